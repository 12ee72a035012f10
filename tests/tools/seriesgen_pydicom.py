# Reads generator output with pydicom, a reader independent of DCMTK, and
# reports what it sees as JSON on stdout. Decoded pixels go to
# <outdir>/<index>.raw as little-endian int32, frame after frame.
#
# usage: seriesgen_pydicom.py OUTDIR FILE...
import json
import sys

import numpy as np
import pydicom
from pydicom import config


def decodable(transfer_syntax):
    return any(h.is_available() and h.supports_transfer_syntax(transfer_syntax)
               for h in config.pixel_data_handlers)


def positions(ds):
    if "PerFrameFunctionalGroupsSequence" in ds:
        result = []
        for item in ds.PerFrameFunctionalGroupsSequence:
            if "PlanePositionSequence" in item:
                result.append([float(v) for v in item.PlanePositionSequence[0].ImagePositionPatient])
            else:
                result.append(None)
        return result
    if "ImagePositionPatient" in ds:
        return [[float(v) for v in ds.ImagePositionPatient]]
    return []


def main():
    outdir = sys.argv[1]
    report = []
    for index, path in enumerate(sys.argv[2:]):
        # No force=True: a file without preamble and "DICM" must fail here.
        ds = pydicom.dcmread(path)
        ts = ds.file_meta.TransferSyntaxUID
        # The raw bytes, before pydicom applies any character set.
        raw_name = ds.get_item(0x00100010).value
        if hasattr(raw_name, "original_string"):
            raw_name = raw_name.original_string
        elif isinstance(raw_name, str):
            raw_name = raw_name.encode("latin-1")
        entry = {
            "path": path,
            "transferSyntax": str(ts),
            "sopInstanceUid": str(ds.SOPInstanceUID),
            "rows": int(ds.Rows),
            "columns": int(ds.Columns),
            "frames": int(ds.get("NumberOfFrames", 1)),
            "patientNameHex": raw_name.hex(),
            "positions": positions(ds),
            "decoded": False,
        }
        if decodable(ts):
            pixels = np.asarray(ds.pixel_array, dtype="<i4")
            with open("%s/%d.raw" % (outdir, index), "wb") as out:
                out.write(pixels.tobytes())
            entry["decoded"] = True
        report.append(entry)
    json.dump(report, sys.stdout)


if __name__ == "__main__":
    main()
