#!/usr/bin/python3
"""Prints, per DICOM file given, the attributes an independent reader (pydicom)
finds, as one JSON object per line. Used as a reference by the hostile input test."""
import json
import sys

import pydicom


def text(ds, keyword):
    value = ds.get(keyword)
    return None if value is None else str(value).strip()


def integer(ds, keyword):
    try:
        return int(ds.get(keyword))  # None and "" raise
    except (TypeError, ValueError):
        return None


for path in sys.argv[1:]:
    record = {"file": path}
    try:
        ds = pydicom.dcmread(path, stop_before_pixels=True)
        record.update({
            "study_instance_uid": text(ds, "StudyInstanceUID"),
            "series_instance_uid": text(ds, "SeriesInstanceUID"),
            "sop_instance_uid": text(ds, "SOPInstanceUID"),
            "modality": text(ds, "Modality"),
            "rows": integer(ds, "Rows"),
            "columns": integer(ds, "Columns"),
            "number_of_frames": integer(ds, "NumberOfFrames"),
            "instance_number": integer(ds, "InstanceNumber"),
        })
    except Exception as error:  # any failure: the reference has nothing to say
        record["error"] = str(error)
    print(json.dumps(record))
