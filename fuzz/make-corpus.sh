#!/usr/bin/env bash
# Builds the fuzzers' seed corpora: nothing binary is kept in the repository.
#   dicom/     generator series (every kind and codec it writes, a damaged
#              file of each sort) and pydicom's sample files; seeds
#              fuzz_read_summary, fuzz_decoded_frame and fuzz_render_frame
#   jpeg2000/  the first frame's codestream of each of pydicom's JPEG 2000
#              samples, behind the header fuzz_jpeg2000.cpp describes
#   archive/   small ZIP (Python's zipfile) and 7z (make_7z_seeds) archives
#              of generator files
#   bridge/    left empty here: the bridge request harness brings its seeds
# Usage: fuzz/make-corpus.sh [OUT_DIR] (default /tmp/velmaris-fuzz/corpus);
# needs the asan build (build-asan, or VELMARIS_BUILD_DIR).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${VELMARIS_BUILD_DIR:-$root/build-asan}"
out="${1:-/tmp/velmaris-fuzz/corpus}"
pydicom_files=/usr/lib/python3/dist-packages/pydicom/data/test_files
# The tools are sanitizer builds too; Qt's and DCMTK's process-lifetime
# allocations are no finding of ours.
export ASAN_OPTIONS="detect_leaks=0"
export DCMDICTPATH="${DCMDICTPATH:-/usr/share/libdcmtk17/dicom.dic}"

ninja -C "$build" norvane-gen make_7z_seeds >/dev/null
gen="$build/tools/norvane-gen"

rm -rf "$out"
mkdir -p "$out/dicom" "$out/jpeg2000" "$out/archive" "$out/bridge"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Small images keep the seeds (and so libFuzzer's default input length) short.
n=0
generate() {
    local dir="$work/gen$((n++))"
    "$gen" --quiet --size 16 --slices 2 --out "$dir" "$@"
    for f in "$dir"/*.dcm; do cp "$f" "$out/dicom/gen$n-$(basename "$f")"; done
}
for kind in ct mr classic enhanced; do
    generate --kind "$kind"
done
for codec in jpegls rle jpeglossless; do
    generate --kind ct --compression "$codec"
    generate --kind enhanced --compression "$codec"
done
generate --kind ct --unsigned --cp1251 --name "Иванов^Иван"
for damage in nopreamble truncated nostudyuid noseriesuid nosopuid; do
    generate --kind ct --damage "$damage"
done
for f in "$pydicom_files"/*.dcm "$pydicom_files"/dicomdirtests/DICOMDIR; do
    cp "$f" "$out/dicom/pydicom-$(basename "$f")"
done

/usr/bin/python3 - "$pydicom_files" "$out/jpeg2000" <<'PY'
import pathlib, struct, sys, warnings
warnings.simplefilter("ignore")
import pydicom
from pydicom.encaps import generate_pixel_data_frame

source, target = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
mono = ["MONOCHROME2", "MONOCHROME1", "MONOCHROME2", "PALETTE COLOR"]
colour = ["RGB", "YBR_ICT", "YBR_RCT", "YBR_FULL"]
for path in sorted(source.glob("*.dcm")):
    try:
        ds = pydicom.dcmread(path)
        syntax = str(ds.file_meta.TransferSyntaxUID)
    except Exception:
        continue
    if syntax not in ("1.2.840.10008.1.2.4.90", "1.2.840.10008.1.2.4.91"):
        continue
    frames = int(getattr(ds, "NumberOfFrames", 1) or 1)
    codestream = next(generate_pixel_data_frame(ds.PixelData, frames))
    samples = int(ds.SamplesPerPixel)
    names = colour if samples == 3 else mono
    photometric = str(ds.PhotometricInterpretation)
    flags = (0x01 if samples == 3 else 0) | (0x02 if int(ds.BitsAllocated) == 16 else 0) \
        | (0x04 if int(ds.PixelRepresentation) == 1 else 0) \
        | (0x08 if syntax.endswith(".91") else 0)
    index = names.index(photometric) if photometric in names else 0
    # As read, split over two fragments, and frame by frame over two frames.
    for suffix, extra, where in (("", 0, 0), ("-split", 0x40, 128), ("-frames", 0x90, 0)):
        header = struct.pack("<HHBBBB", int(ds.Rows), int(ds.Columns), flags | extra, where, index, 0)
        (target / (path.stem + suffix)).write_bytes(header + codestream)
PY

# Archives of two generator files and a text file.
mkdir -p "$work/archived"
cp "$out/dicom/gen1-IMG0001.dcm" "$out/dicom/gen5-IMG0001.dcm" "$work/archived/"
echo "не DICOM" > "$work/archived/readme.txt"
/usr/bin/python3 - "$work/archived" "$out/archive" <<'PY'
import pathlib, sys, zipfile
source, target = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
methods = {"stored": zipfile.ZIP_STORED, "deflated": zipfile.ZIP_DEFLATED,
           "bzip2": zipfile.ZIP_BZIP2, "lzma": zipfile.ZIP_LZMA}
for name, method in methods.items():
    with zipfile.ZipFile(target / f"seed-{name}.zip", "w", method) as archive:
        archive.writestr("series/", "")
        for f in sorted(source.iterdir()):
            archive.write(f, "series/" + f.name)
PY
"$build/fuzz/make_7z_seeds" "$out/archive" "$work/archived"/*

for dir in "$out"/*; do
    echo "$(basename "$dir"): $(find "$dir" -type f | wc -l) seeds"
done
