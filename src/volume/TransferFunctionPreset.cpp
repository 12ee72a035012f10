#include "volume/TransferFunctionPreset.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace render {

namespace {

struct RawNode
{
    double hu;
    int r, g, b;
    double opacity;
};

TransferFunctionPreset makePreset(const QString &name, std::initializer_list<RawNode> raw)
{
    TransferFunctionPreset preset;
    preset.name = name;
    for (const RawNode &node : raw)
        preset.nodes.append({node.hu, QColor(node.r, node.g, node.b), node.opacity});
    return preset;
}

QString shortest(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

} // namespace

Rgba TransferFunctionPreset::evaluate(double value) const
{
    if (nodes.isEmpty())
        return {0.0, 0.0, 0.0, 0.0};
    auto rgba = [](const TransferFunctionNode &node) {
        return Rgba{node.color.redF(), node.color.greenF(), node.color.blueF(), node.opacity};
    };
    if (!(value > nodes.first().hu)) // NaN lands here too
        return rgba(nodes.first());
    if (value >= nodes.last().hu)
        return rgba(nodes.last());
    for (qsizetype i = 0; i + 1 < nodes.size(); ++i) {
        const TransferFunctionNode &a = nodes.at(i);
        const TransferFunctionNode &b = nodes.at(i + 1);
        if (value < a.hu || value > b.hu)
            continue;
        const double span = b.hu - a.hu;
        const double w = span > 0.0 ? (value - a.hu) / span : 0.0;
        const Rgba ca = rgba(a);
        const Rgba cb = rgba(b);
        Rgba out{};
        for (int k = 0; k < 4; ++k)
            out[k] = ca[k] + (cb[k] - ca[k]) * w;
        return out;
    }
    return rgba(nodes.last());
}

QString TransferFunctionPreset::toStoredText() const
{
    QStringList parts;
    for (const TransferFunctionNode &node : nodes)
        parts.append(QStringLiteral("%1,%2,%3,%4,%5")
                         .arg(shortest(node.hu))
                         .arg(node.color.red())
                         .arg(node.color.green())
                         .arg(node.color.blue())
                         .arg(shortest(node.opacity)));
    return name + QLatin1Char('|') + parts.join(QLatin1Char(';'));
}

bool TransferFunctionPreset::fromStoredText(const QString &text, TransferFunctionPreset &preset)
{
    const qsizetype bar = text.indexOf(QLatin1Char('|'));
    if (bar < 0)
        return false;
    TransferFunctionPreset parsed;
    parsed.name = text.left(bar).trimmed();
    if (parsed.name.isEmpty())
        return false;
    const QStringList parts = text.mid(bar + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        const QStringList fields = part.split(QLatin1Char(','));
        if (fields.size() != 5)
            continue;
        double values[5];
        bool allOk = true;
        for (int i = 0; i < 5; ++i) {
            bool ok = false;
            values[i] = fields.at(i).trimmed().toDouble(&ok);
            allOk = allOk && ok && std::isfinite(values[i]);
        }
        if (!allOk)
            continue;
        auto channel = [](double v) { return std::clamp(int(std::lround(v)), 0, 255); };
        parsed.nodes.append({values[0], QColor(channel(values[1]), channel(values[2]), channel(values[3])),
                             std::clamp(values[4], 0.0, 1.0)});
    }
    if (parsed.nodes.size() < 2)
        return false;
    std::stable_sort(parsed.nodes.begin(), parsed.nodes.end(),
                     [](const TransferFunctionNode &a, const TransferFunctionNode &b) { return a.hu < b.hu; });
    preset = parsed;
    return true;
}

QString endoscopyInsidePresetName()
{
    return QStringLiteral("Эндоскопия (внутренняя поверхность просвета)");
}

QString endoscopyOutsidePresetName()
{
    return QStringLiteral("Обзор просвета (снаружи)");
}

const QList<TransferFunctionPreset> &builtInPresets()
{
    static const QList<TransferFunctionPreset> presets{
        makePreset(QStringLiteral("Кости"), {{-200, 233, 189, 152, 0}, {150, 233, 189, 152, 0},
                                             {226, 230, 190, 140, 0.18}, {500, 235, 198, 148, 0.55},
                                             {900, 240, 206, 155, 0.85}, {1300, 245, 214, 165, 0.97}}),
        makePreset(QStringLiteral("Сосуды (контраст)"),
                   {{40, 120, 20, 20, 0}, {100, 150, 25, 25, 0.05}, {180, 200, 35, 30, 0.45},
                    {300, 230, 60, 40, 0.8}, {500, 255, 140, 100, 0.95}}),
        makePreset(QStringLiteral("Кожа"), {{-300, 200, 150, 120, 0}, {-120, 210, 160, 130, 0.08},
                                            {-50, 224, 172, 142, 0.3}, {30, 233, 189, 152, 0.55},
                                            {150, 220, 175, 145, 0.35}}),
        makePreset(QStringLiteral("Воздух/лёгкие"),
                   {{-1000, 150, 195, 245, 0}, {-920, 150, 195, 245, 0}, {-800, 165, 205, 245, 0.05},
                    {-650, 185, 213, 245, 0.45}, {-500, 200, 215, 240, 0.05}, {-350, 205, 215, 230, 0}}),
        makePreset(QStringLiteral("Мягкие ткани"),
                   {{-150, 180, 90, 90, 0}, {-50, 190, 100, 95, 0.05}, {20, 205, 120, 110, 0.25},
                    {80, 215, 140, 125, 0.45}, {150, 225, 160, 140, 0.55}, {250, 230, 175, 150, 0.35}}),
        makePreset(QStringLiteral("Мышцы"), {{0, 140, 60, 55, 0}, {35, 150, 65, 60, 0.15}, {55, 165, 75, 68, 0.45},
                                             {80, 178, 85, 75, 0.65}, {120, 190, 100, 88, 0.5}}),
        makePreset(QStringLiteral("Металл (импланты)"), {{1300, 185, 185, 195, 0}, {1500, 205, 205, 215, 0.35},
                                                         {2000, 225, 225, 235, 0.75}, {3000, 245, 245, 252, 0.97}}),
        makePreset(QStringLiteral("Кальцинаты"), {{130, 255, 220, 90, 0}, {200, 255, 225, 100, 0.2},
                                                  {400, 255, 230, 115, 0.55}, {700, 255, 235, 135, 0.88}}),
        makePreset(endoscopyInsidePresetName(),
                   {{-1000, 210, 130, 120, 0}, {-650, 210, 130, 120, 0}, {-560, 220, 140, 128, 0.35},
                    {-480, 228, 148, 134, 0.8}, {-380, 232, 152, 138, 0.97}, {3000, 232, 152, 138, 0.99}}),
        makePreset(endoscopyOutsidePresetName(),
                   {{-1000, 150, 150, 155, 0}, {-650, 150, 150, 155, 0}, {-560, 170, 170, 175, 0.3},
                    {-420, 195, 195, 200, 0.75}, {-350, 210, 210, 215, 0.92}, {3000, 215, 215, 220, 0.96}}),
    };
    return presets;
}

TransferFunctionPreset presetByName(const QString &name, const QList<TransferFunctionPreset> &custom)
{
    for (const TransferFunctionPreset &preset : builtInPresets())
        if (preset.name == name)
            return preset;
    for (const TransferFunctionPreset &preset : custom)
        if (preset.name == name)
            return preset;
    return builtInPresets().first();
}

std::array<std::array<quint8, 4>, 256> buildTransferTexture(const TransferFunctionPreset &preset, double huMin,
                                                             double huMax)
{
    std::array<std::array<quint8, 4>, 256> texels{};
    const double span = std::max(huMax - huMin, 1e-6);
    for (int i = 0; i < 256; ++i) {
        const Rgba c = preset.evaluate(huMin + double(i) / 255.0 * span);
        for (int k = 0; k < 4; ++k) {
            const double v = std::isfinite(c[k]) ? std::clamp(c[k], 0.0, 1.0) : 0.0;
            texels[std::size_t(i)][std::size_t(k)] = quint8(v * 255.0);
        }
    }
    return texels;
}

} // namespace render
