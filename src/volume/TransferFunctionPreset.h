#pragma once

#include <QColor>
#include <QList>
#include <QString>

#include <array>

namespace render {

// One node of a transfer function: at `hu` the colour and opacity (0 … 1).
struct TransferFunctionNode
{
    double hu = 0.0;
    QColor color;
    double opacity = 0.0;
};

// Colour and opacity, each 0 … 1.
using Rgba = std::array<double, 4>;

// A named HU-to-colour-and-opacity curve; nodes in ascending HU.
struct TransferFunctionPreset
{
    QString name;
    QList<TransferFunctionNode> nodes;

    // Below or at the first node its values, at or above the last node its
    // values, else linear interpolation between the bracketing nodes. Black
    // and transparent without nodes.
    Rgba evaluate(double value) const;

    // One line of the "vrt/customPresets" list: "name|hu,r,g,b,a;…".
    QString toStoredText() const;
    // The preset of one stored line; false for a line without "|", with an
    // empty name or with fewer than two nodes. Empty node parts are skipped,
    // as are parts that are not five numbers; nodes come back sorted by HU.
    static bool fromStoredText(const QString &text, TransferFunctionPreset &preset);
};

// The ten built-in presets in menu order, built once.
const QList<TransferFunctionPreset> &builtInPresets();
// The built-in (or, failing that, `custom`) preset of that name; the first
// built-in ("Кости") when there is none.
TransferFunctionPreset presetByName(const QString &name, const QList<TransferFunctionPreset> &custom = {});

// Names of the presets the virtual endoscopy uses.
QString endoscopyInsidePresetName();
QString endoscopyOutsidePresetName();

// The 256-texel RGBA8 table of `preset` over HuMin … HuMax: texel i samples
// the preset at HuMin + i / 255 × max(HuMax − HuMin, 1e-6), clamped to 0 … 1
// and truncated to bytes.
std::array<std::array<quint8, 4>, 256> buildTransferTexture(const TransferFunctionPreset &preset, double huMin,
                                                             double huMax);

} // namespace render
