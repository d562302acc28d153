#!/usr/bin/python3
"""Makes the real sample files of the demo disk image into a folder: photos
(ImageMagick), documents (LibreOffice), music and a video clip (ffmpeg), and a
ZIP archive. Each file is named as it will be on the demo disk; the script
tools/make-demo.sh puts them there.

usage: samples.py OUT_DIR
"""
import os
import subprocess
import sys

OUT = sys.argv[1]
FF = ["ffmpeg", "-y", "-hide_banner", "-loglevel", "error"]
FF_OUT = ["-map_metadata", "-1", "-fflags", "+bitexact", "-flags", "+bitexact"]


def run(*args, cwd=OUT):
    subprocess.run(args, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def photo(name, seed, size="480x360", quality="80"):
    # Plasma fractals with a caption: pictures with real structure, small as JPEG.
    run("/usr/bin/convert", "-seed", str(seed), "-size", size, "plasma:", "-blur", "0x1",
        "-gravity", "south", "-pointsize", "18", "-fill", "white", "-annotate", "+0+8", name,
        "-strip", "-quality", quality, name)


def picture(name, *args):
    run("/usr/bin/convert", *args, "-strip", "-define", "png:exclude-chunks=date,time", name)


def text(name, body):
    with open(os.path.join(OUT, name), "w") as f:
        f.write(body)


def office(source, target_ext, name):
    run("soffice", "--headless", "--convert-to", target_ext, "--outdir", OUT, os.path.join(OUT, source))
    os.replace(os.path.join(OUT, os.path.splitext(source)[0] + "." + target_ext), os.path.join(OUT, name))


LETTER = """Dear Ms Example,

thank you for your letter of 3 May. The photos of the summer trip are on the
memory card I sent you; should any of them be missing, Selvane will find them.

With kind regards,
A. Sample
""" * 3

REPORT = "".join("%d,%s,%d\n" % (m, name, 1000 + 37 * m)
                 for m, name in enumerate(["Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"], 1))

os.makedirs(OUT, exist_ok=True)

# Photos of a camera card, and two pictures of other kinds.
for i, seed in enumerate([11, 23, 37, 41, 53, 67, 71, 83], 1):
    photo("Urlaub %02d.jpg" % i, seed)
photo("Strand.jpg", 97, "400x300")
picture("Skizze.png", "-size", "160x120", "gradient:navy-gold", "-swirl", "120")
picture("Logo.gif", "-size", "96x64", "pattern:checkerboard", "-fill", "red", "-draw", "circle 48,32 48,8")

# Documents.
text("letter.txt", LETTER)
text("report.csv", REPORT)
office("letter.txt", "pdf", "Brief an Frau Beispiel.pdf")
office("letter.txt", "docx", "Bewerbung.docx")
office("letter.txt", "doc", "Notizen.doc")
office("report.csv", "xlsx", "Haushalt 2023.xlsx")
os.replace(os.path.join(OUT, "letter.txt"), os.path.join(OUT, "Einkaufsliste.txt"))
os.remove(os.path.join(OUT, "report.csv"))

# Music and a short video.
run(*FF, "-f", "lavfi", "-i", "sine=frequency=440:duration=1.5", *FF_OUT, "-c:a", "libmp3lame", "-b:a", "48k",
    "Melodie.mp3")
run(*FF, "-f", "lavfi", "-i", "sine=frequency=660:duration=0.5", *FF_OUT, "-c:a", "pcm_s16le", "-ar", "8000",
    "Klingelton.wav")
run(*FF, "-f", "lavfi", "-i", "testsrc=size=160x120:rate=10:duration=1", "-f", "lavfi", "-i",
    "sine=frequency=330:duration=1", "-shortest", *FF_OUT, "-c:v", "mpeg4", "-q:v", "8", "-c:a", "aac",
    "-b:a", "32k", "Urlaub.mp4")

# Files of an older volume that was formatted over since.
for i, seed in enumerate([101, 103, 107], 1):
    photo("Sommer_2015_%02d.jpg" % i, seed, "400x300")
text("invoice.csv", "".join("%d,Item %d,%d.%02d\n" % (i, i, 3 * i, i % 100) for i in range(1, 40)))
office("invoice.csv", "pdf", "Rechnung 2015.pdf")
os.remove(os.path.join(OUT, "invoice.csv"))

# An archive of two of the documents.
run("zip", "-q", "-X", "Sicherung.zip", "Einkaufsliste.txt", "Haushalt 2023.xlsx")
