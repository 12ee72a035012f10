#include "cli/JsonRecords.h"

#include <QJsonArray>

namespace velmaris::cli {

namespace {

template<typename Container>
QJsonArray array(const Container &values)
{
    QJsonArray result;
    for (const auto &v : values)
        result.append(static_cast<double>(v));
    return result;
}

QString hex4(quint16 value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
}

} // namespace

QJsonObject toJson(const dicom::DicomFileSummary &s)
{
    return QJsonObject{
        {QStringLiteral("patient_id"), s.patient_id},
        {QStringLiteral("patient_name"), s.patient_name},
        {QStringLiteral("birth_date"), s.birth_date},
        {QStringLiteral("sex"), s.sex},
        {QStringLiteral("weight_kg"), s.weight_kg},
        {QStringLiteral("height_cm"), s.height_cm},
        {QStringLiteral("study_instance_uid"), s.study_instance_uid},
        {QStringLiteral("study_date"), s.study_date},
        {QStringLiteral("study_time"), s.study_time},
        {QStringLiteral("study_description"), s.study_description},
        {QStringLiteral("accession_number"), s.accession_number},
        {QStringLiteral("referring_physician"), s.referring_physician},
        {QStringLiteral("series_instance_uid"), s.series_instance_uid},
        {QStringLiteral("series_number"), s.series_number},
        {QStringLiteral("series_description"), s.series_description},
        {QStringLiteral("modality"), s.modality},
        {QStringLiteral("body_part_examined"), s.body_part_examined},
        {QStringLiteral("laterality"), s.laterality},
        {QStringLiteral("sop_instance_uid"), s.sop_instance_uid},
        {QStringLiteral("instance_number"), s.instance_number},
        {QStringLiteral("rows"), s.rows},
        {QStringLiteral("columns"), s.columns},
        {QStringLiteral("number_of_frames"), s.number_of_frames},
        {QStringLiteral("pixel_spacing_x"), s.pixel_spacing_x},
        {QStringLiteral("pixel_spacing_y"), s.pixel_spacing_y},
        {QStringLiteral("slice_thickness"), s.slice_thickness},
        {QStringLiteral("slice_location"), s.slice_location},
        {QStringLiteral("window_center"), s.window_center},
        {QStringLiteral("window_width"), s.window_width},
        {QStringLiteral("rescale_slope"), s.rescale_slope},
        {QStringLiteral("rescale_intercept"), s.rescale_intercept},
        {QStringLiteral("repetition_time"), s.repetition_time},
        {QStringLiteral("echo_time"), s.echo_time},
        {QStringLiteral("trigger_time_ms"), s.trigger_time_ms},
        {QStringLiteral("cardiac_number_of_images"), s.cardiac_number_of_images},
        {QStringLiteral("acquisition_time_seconds"), s.acquisition_time_seconds},
        {QStringLiteral("temporal_position_index"), s.temporal_position_index},
        {QStringLiteral("frame_of_reference_uid"), s.frame_of_reference_uid},
        {QStringLiteral("image_position"), array(s.image_position)},
        {QStringLiteral("image_orientation"), array(s.image_orientation)},
        {QStringLiteral("has_spatial_info"), s.has_spatial_info},
        {QStringLiteral("per_frame_slice_positions"), array(s.per_frame_slice_positions)},
        {QStringLiteral("per_frame_position_x"), array(s.per_frame_position_x)},
        {QStringLiteral("per_frame_position_y"), array(s.per_frame_position_y)},
        {QStringLiteral("per_frame_position_z"), array(s.per_frame_position_z)},
        {QStringLiteral("per_frame_temporal_indices"), array(s.per_frame_temporal_indices)},
        {QStringLiteral("file_path"), s.file_path},
    };
}

QJsonObject toJson(const db::StudyRecord &r)
{
    return QJsonObject{
        {QStringLiteral("study_instance_uid"), r.study_instance_uid},
        {QStringLiteral("patient_id"), r.patient_id},
        {QStringLiteral("patient_name"), r.patient_name},
        {QStringLiteral("birth_date"), r.birth_date},
        {QStringLiteral("sex"), r.sex},
        {QStringLiteral("weight_kg"), r.weight_kg},
        {QStringLiteral("study_date"), r.study_date},
        {QStringLiteral("study_time"), r.study_time},
        {QStringLiteral("study_description"), r.study_description},
        {QStringLiteral("accession_number"), r.accession_number},
        {QStringLiteral("series_count"), r.series_count},
        {QStringLiteral("instance_count"), r.instance_count},
        {QStringLiteral("is_protected"), r.is_protected},
        {QStringLiteral("modalities"), r.modalities},
    };
}

QJsonObject toJson(const db::SeriesRecord &r)
{
    return QJsonObject{
        {QStringLiteral("series_instance_uid"), r.series_instance_uid},
        {QStringLiteral("study_instance_uid"), r.study_instance_uid},
        {QStringLiteral("modality"), r.modality},
        {QStringLiteral("series_description"), r.series_description},
        {QStringLiteral("series_number"), r.series_number},
        {QStringLiteral("instance_count"), r.instance_count},
        {QStringLiteral("body_part_examined"), r.body_part_examined},
        {QStringLiteral("laterality"), r.laterality},
    };
}

QJsonObject toJson(const db::SliceRef &r)
{
    return QJsonObject{
        {QStringLiteral("file_path"), r.file_path},
        {QStringLiteral("instance_number"), r.instance_number},
        {QStringLiteral("frame_index"), r.frame_index},
        {QStringLiteral("pixel_spacing_x"), r.pixel_spacing_x},
        {QStringLiteral("pixel_spacing_y"), r.pixel_spacing_y},
        {QStringLiteral("slice_thickness"), r.slice_thickness},
        {QStringLiteral("slice_location"), r.slice_location},
        {QStringLiteral("repetition_time"), r.repetition_time},
        {QStringLiteral("echo_time"), r.echo_time},
        {QStringLiteral("image_position_x"), r.image_position_x},
        {QStringLiteral("image_position_y"), r.image_position_y},
        {QStringLiteral("image_position_z"), r.image_position_z},
        {QStringLiteral("orientation_row_x"), r.orientation_row_x},
        {QStringLiteral("orientation_row_y"), r.orientation_row_y},
        {QStringLiteral("orientation_row_z"), r.orientation_row_z},
        {QStringLiteral("orientation_col_x"), r.orientation_col_x},
        {QStringLiteral("orientation_col_y"), r.orientation_col_y},
        {QStringLiteral("orientation_col_z"), r.orientation_col_z},
        {QStringLiteral("has_spatial_info"), r.has_spatial_info},
        {QStringLiteral("acquisition_time_seconds"), r.acquisition_time_seconds},
        {QStringLiteral("temporal_position_index"), r.temporal_position_index},
        {QStringLiteral("frame_of_reference_uid"), r.frame_of_reference_uid},
        {QStringLiteral("trigger_time_ms"), r.trigger_time_ms},
        {QStringLiteral("cardiac_number_of_images"), r.cardiac_number_of_images},
    };
}

QJsonObject toJson(const dicom::DicomTagEntry &t)
{
    return QJsonObject{
        {QStringLiteral("group"), hex4(t.group)},
        {QStringLiteral("element"), hex4(t.element)},
        {QStringLiteral("vr"), t.vr},
        {QStringLiteral("name"), t.name},
        {QStringLiteral("value"), t.value},
    };
}

} // namespace velmaris::cli
