// The file categories: the five extension lists that define pictures, audio,
// documents, video and archives, the office and archive list of the preview,
// and the plain substring tests every user of the lists applies.
#pragma once

#include <string_view>

namespace selvane {

inline constexpr std::string_view kPictureList =
    "*.bmp|*.gif|*.jpg|*.jpeg|*.png|*.psd|*.tif|*.tiff|*.pcx|*.scr|*.ico|*.nef|*.nrw|*.crw|*.cr2|*.sr2|*.arw|"
    "*.srf|*.divu|*.pgm|*.k25|*.kdc|*.dcr|*.raf|*.iff|*.pbm|*.mef|*.jp2|*.mos|*.x3f|*.orf|*.erf|*.indd|*.pef|"
    "*.psp|*.mrw|*.dng|*.raw|*.pct|*.tga|*.thm";
inline constexpr std::string_view kAudioList =
    "*.mp3|*.wav|*.ape|*.aiff|*.rps|*.mid|*.midi|*.m4a|*.m4p|*.au|*.ogg|*.wma|*.rm|*.ra|*.acd|*.amr|*.at3|*.caf|"
    "*.dss|*.m4r|*.nra|*.snd";
inline constexpr std::string_view kDocumentList =
    "*.doc|*.xls|*.ppt|*.odt|*.ods|*.pdf|*.docx|*.xlsx|*.pptx|*.ole|*.txt|*.xml|*.chm|*.htm|*.html|*.pst|*.dbx|"
    "*.wps|*.dps|*.et|*.one|*.mpp|*.mdb|*.accdb";
inline constexpr std::string_view kVideoList =
    "*.rmvb|*.rm|*.mpeg|*.mov|*.avi|*.wmv|*.asf|*.mp4|*.flv|*.fla|*.swf|*.m4v|*.3gp|*.dv|*.3g2|*.m4b|*.mkv|*.mts|"
    "*.divx|*.ogm|*.moi|*.vob|*.ajp|*.f4v|*.mqv|*.svi|*.vid|*.tod|*.hdmov|*.mod|*.mxf|*.lrv";
inline constexpr std::string_view kArchiveList =
    "*.zip|*.rar|*.gzip|*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso";

// Files the preview copies into a temporary file under their own name.
inline constexpr std::string_view kOfficeArchiveList =
    "*.pdf|*.doc|*.dot|*.docx|*.dotx|*.docm|*.dotm|*.rtf|*.odt|*.ppt|*.pptx|*.pptm|*.pps|*.ppsx|*.ppsm|*.odp|"
    "*.xls|*.xlsx|*.xlsm|*.csv|*.odc|*.vsd|*.vsdm|*.vsdx|*.pub|*.mpp|*.ics|*.vcf|*.msg|*.zip|*.rar|*.gzip|"
    "*.tar|*.7z|*.cab|*.arj|*.lzh|*.ace|*.gz|*.uue|*.bz2|*.jar|*.iso";

// The five lists joined with "|" in the order pictures, audio, documents,
// video, archives: an extension found nowhere here belongs to "other".
std::string_view KnownExtensions();

// The five lists joined with "|" in the order pictures, audio, video,
// documents, archives: the filter of "everything but other".
std::string_view AllCategoriesFilter();

// The text after the last "." of a name; empty when there is none.
std::string_view ExtensionOf(std::string_view name);

// Whether a bare extension (any case) occurs in a list. The test is a plain
// substring search, so a leading part of a listed extension ("jp") counts; an
// empty extension is in no list.
bool ListContains(std::string_view list, std::string_view extension);

// A damaged picture: a file whose data no longer matches its type and whose
// extension is in the picture list. Folder listings and category searches hide it.
bool IsDamagedPicture(std::string_view name, bool intact);

}  // namespace selvane
