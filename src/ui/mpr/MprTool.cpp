#include "ui/mpr/MprTool.h"

namespace velmaris {

const QList<MprToolInfo> &mprTools()
{
    static const QList<MprToolInfo> tools = {
        {MprTool::Browse, QStringLiteral("Обзор"), QStringLiteral("Клик переставляет перекрестие в другие плоскости")},
        {MprTool::Pan, QStringLiteral("Панорама"),
         QStringLiteral("Перетаскивание сдвигает картинку, не переставляя перекрестие")},
        {MprTool::Zoom, QStringLiteral("Zoom"), {}},
        {MprTool::Windowing, QStringLiteral("Яркость (ЛКМ)"), {}},
        {MprTool::Ruler, QStringLiteral("Линейка"), {}},
        {MprTool::Angle, QStringLiteral("Угол"), {}},
        {MprTool::EllipseRoi, QStringLiteral("ROI (HU)"), {}},
        {MprTool::Drawing, QStringLiteral("Рисование"),
         QStringLiteral("Свободное рисование от руки — для обводки областей, не измерение")},
        {MprTool::Text, QStringLiteral("Текст"), QStringLiteral("Клик ставит текстовую метку — сразу спросит текст")},
        {MprTool::Arrow, QStringLiteral("Стрелка"),
         QStringLiteral("Стрелка-указатель — как линейка, но без цифры и со стрелкой на конце")},
        {MprTool::Polygon, QStringLiteral("Многоугольник"),
         QStringLiteral("Клики добавляют вершины, двойной клик завершает — считает площадь и периметр")},
        {MprTool::SmoothContour, QStringLiteral("Сглаженный контур"),
         QStringLiteral("То же самое, но контур сглаживается и закругляется")},
        {MprTool::EllipseArea, QStringLiteral("Эллипс (площадь)"),
         QStringLiteral("Как ROI, но считает только площадь и периметр, без HU")},
        {MprTool::RotateAxes, QStringLiteral("Захват осей"),
         QStringLiteral("Перетаскивание за линию перекрестия поворачивает плоскости в 3D — настоящий пересчёт "
                        "вокселей, не просто поворот картинки.")},
    };
    return tools;
}

std::optional<render::MeasurementMode> mprMeasurementMode(MprTool tool)
{
    using M = render::MeasurementMode;
    switch (tool) {
    case MprTool::Ruler: return M::Ruler;
    case MprTool::Angle: return M::Angle;
    case MprTool::EllipseRoi: return M::EllipseRoi;
    case MprTool::Drawing: return M::Drawing;
    case MprTool::Text: return M::Text;
    case MprTool::Arrow: return M::Arrow;
    case MprTool::Polygon: return M::Polygon;
    case MprTool::SmoothContour: return M::SmoothContour;
    case MprTool::EllipseArea: return M::EllipseArea;
    default: return std::nullopt;
    }
}

} // namespace velmaris
