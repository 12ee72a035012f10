# Reads generator output with pydicom, a reader independent of DCMTK, and
# reports what it sees as JSON on stdout, by file path. Decoded pixels go to
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
    """Image Position (Patient) values, frame after frame, in one list."""
    if "PerFrameFunctionalGroupsSequence" in ds:
        return [float(v) for item in ds.PerFrameFunctionalGroupsSequence
                if "PlanePositionSequence" in item
                for v in item.PlanePositionSequence[0].ImagePositionPatient]
    return [float(v) for v in ds.get("ImagePositionPatient", [])]


def main():
    outdir = sys.argv[1]
    report = {}
    for index, path in enumerate(sys.argv[2:]):
        # No force=True: a file without preamble and "DICM" must fail here.
        ds = pydicom.dcmread(path)
        # The name's bytes decoded by Python's own codecs: UTF-8 where the
        # file says ISO_IR 192, otherwise Windows-1251.
        raw_name = ds.get_item(0x00100010).value
        if hasattr(raw_name, "original_string"):
            raw_name = raw_name.original_string
        elif isinstance(raw_name, str):
            raw_name = raw_name.encode("latin-1")
        utf8 = ds.get("SpecificCharacterSet") == "ISO_IR 192"
        entry = {
            "index": index,
            "header": [str(ds.SOPInstanceUID), str(ds.Rows), str(ds.Columns),
                       raw_name.decode("utf-8" if utf8 else "cp1251").rstrip(" ")],
            "positions": positions(ds),
            "decoded": False,
        }
        if decodable(ds.file_meta.TransferSyntaxUID):
            pixels = np.asarray(ds.pixel_array, dtype="<i4")
            with open("%s/%d.raw" % (outdir, index), "wb") as out:
                out.write(pixels.tobytes())
            entry["decoded"] = True
        report[path] = entry
    json.dump(report, sys.stdout)


if __name__ == "__main__":
    main()
