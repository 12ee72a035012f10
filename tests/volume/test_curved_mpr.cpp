#include "volume/CliRun.h"
#include "volume/FilledVolume.h"
#include "seriesgen/SeriesGenerator.h"
#include "volume/Centerline.h"
#include "volume/CprState.h"
#include "volume/CurvedMpr.h"
#include "volume/MprReslicer.h"
#include "volume/StenosisMeasurement.h"
#include "volume/VesselAnalysis.h"
#include "volume/VesselTrace.h"

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;
using render::Vec3d;
using render::operator-;
using velmaris::gen::SeriesSpec;
using namespace velmaris::testing;

namespace {

using Points = std::vector<Vec3d>;

// A uniform volume of `value` with the given counts and spacings.
render::Volume uniformVolume(int w, int h, int d, double sx, double sy, double sz, float value = 100.0f)
{
    return filledVolume(w, h, d, [value](int, int, int) { return value; }, {sx, sy, sz});
}

double distance(const Vec3d &a, const Vec3d &b)
{
    return std::sqrt(std::pow(a[0] - b[0], 2) + std::pow(a[1] - b[1], 2) + std::pow(a[2] - b[2], 2));
}

// The angiography phantom, small enough for a test: 0.5 mm voxels.
SeriesSpec phantomSpec()
{
    SeriesSpec spec;
    spec.anatomy = velmaris::gen::Anatomy::Vessel;
    spec.rows = spec.columns = 96;
    spec.slices = 90;
    spec.pixelSpacingRow = spec.pixelSpacingColumn = 0.5;
    spec.sliceSpacing = spec.sliceThickness = 0.5;
    return spec;
}

// The phantom's voxels as HU, laid out as the volume of an axial series
// (identity orientation: volume millimetres = patient − first position).
render::Volume phantomVolume(const SeriesSpec &spec)
{
    render::Volume v = uniformVolume(spec.columns, spec.rows, spec.slices, spec.pixelSpacingColumn,
                                     spec.pixelSpacingRow, spec.sliceSpacing, 0.0f);
    for (int s = 0; s < spec.slices; ++s) {
        const std::vector<int> stored = velmaris::gen::slicePixelValues(spec, s);
        for (std::size_t i = 0; i < stored.size(); ++i)
            v.voxels[std::size_t(s) * stored.size() + i] = float(stored[i] * spec.rescaleSlope + spec.rescaleIntercept);
    }
    return v;
}

Vec3d phantomMm(const SeriesSpec &spec, double t)
{
    const auto p = velmaris::gen::vesselCurvePoint(spec, t);
    return {p[0] - spec.origin[0], p[1] - spec.origin[1], p[2] - spec.origin[2]};
}

// The lumen's width across the CPR at one sample: where the HU profile
// through the centre row crosses half-way between lumen and tissue, linearly
// interpolated on each side. NaN when the centre is not lumen.
double lumenWidthMm(const render::CurvedMprImage &cpr, int sample, double half, double *centreOffsetMm = nullptr)
{
    const float *row = cpr.values.data() + std::size_t(sample) * std::size_t(cpr.rows);
    const int centre = cpr.rows / 2;
    if (!(row[centre] > half))
        return std::nan("");
    auto edge = [&](int direction) {
        int r = centre;
        while (r + direction >= 0 && r + direction < cpr.rows && row[r + direction] > half)
            r += direction;
        const double inside = row[r];
        const double outside = row[r + direction];
        return r + direction * (inside - half) / (inside - outside);
    };
    const double low = edge(-1);
    const double high = edge(1);
    if (centreOffsetMm)
        *centreOffsetMm = ((low + high) / 2.0 + 0.5 - cpr.rows / 2.0) * cpr.pixelMm;
    return (high - low) * cpr.pixelMm;
}

} // namespace

class CurvedMprTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_spec = phantomSpec();
        m_phantom = phantomVolume(m_spec);
    }

    // Two points make one straight segment of 41 points (tension 1 eases:
    // a quarter of the way in time is 0.15625 of the way); Catmull-Rom passes
    // through the middle of three points (dense index 40) and, half way along
    // the first segment, bulges past the chord where tension 1 gives its midpoint.
    void denseSpline()
    {
        const Points two{{0, 0, 0}, {8, 4, 0}};
        const Points three{{0, 0, 0}, {10, 10, 0}, {20, 0, 0}};
        const struct
        {
            Points points;
            double tension;
            int count, probe;
            Vec3d expected;
        } cases[] = {{two, 0.0, 41, 20, {4, 2, 0}},          {two, 1.0, 41, 10, {8 * 0.15625, 4 * 0.15625, 0}},
                     {three, 0.0, 81, 40, {10, 10, 0}},      {three, 1.0, 81, 20, {5, 5, 0}},
                     {three, 0.0, 81, 20, {4.375, 5.625, 0}}};
        for (const auto &c : cases) {
            const Points dense = render::cardinalSplineDense(c.points, c.tension);
            QCOMPARE(int(dense.size()), c.count);
            QVERIFY(distance(dense.front(), c.points.front()) < 1e-12);
            QVERIFY(distance(dense.back(), c.points.back()) < 1e-12);
            const Vec3d &at = dense[std::size_t(c.probe)];
            QVERIFY2(distance(at, c.expected) < 1e-9, qPrintable(u"%1 %2 %3"_s.arg(at[0]).arg(at[1]).arg(at[2])));
        }
    }

    // The first normal is tangent × (0, 0, 1), or × (0, 1, 0) along z, turned
    // by the rotation about the tangent; it stays on a straight line.
    void firstNormal()
    {
        const struct
        {
            Vec3d end;
            double rotation;
            Vec3d normal;
        } cases[] = {{{10, 0, 0}, 0.0, {0, -1, 0}}, {{0, 0, 10}, 0.0, {-1, 0, 0}}, {{10, 0, 0}, 90.0, {0, 0, -1}}};
        for (const auto &c : cases) {
            const render::Centerline line = render::buildCenterline({{0, 0, 0}, c.end}, 0.0, 0.5, c.rotation);
            QCOMPARE(line.size(), 21);
            QCOMPARE(line.lengthMm, 10.0);
            for (const Vec3d &n : line.normals)
                QVERIFY(distance(n, c.normal) < 1e-9);
        }
    }

    // Along a helix the frame stays orthonormal, and consecutive normals turn
    // only with the curve: no component of the turn about the tangent (a Frenet
    // frame would twist by the torsion, 0.0118 per mm: 0.0059 per 0.5 mm step).
    void frameOnHelix()
    {
        Points points;
        for (int k = 0; k <= 48; ++k) {
            const double a = k * M_PI / 8;
            points.push_back({20 * std::cos(a), 20 * std::sin(a), 5 * a});
        }
        const render::Centerline line = render::buildCenterline(points, 0.0, 0.5, 0.0);
        QVERIFY(line.size() > 500);
        for (int i = 0; i < line.size(); ++i) {
            const auto s = std::size_t(i);
            QVERIFY(std::fabs(render::norm(line.normals[s]) - 1.0) < 1e-9);
            QVERIFY(std::fabs(render::dot(line.normals[s], line.tangents[s])) < 1e-9);
            QVERIFY(std::fabs(render::dot(line.binormals[s], line.tangents[s])) < 1e-9);
            if (i + 1 < line.size()) {
                const double twist = render::dot(line.normals[s + 1] - line.normals[s], line.binormals[s]);
                QVERIFY2(std::fabs(twist) < 1e-3, qPrintable(u"twist %1 at %2"_s.arg(twist).arg(i)));
            }
        }
    }

    // Rows across and layers of the slab: thin; a 3 mm MIP; 0.3 mm, at least 3
    // layers; thick but a thin mode; narrow, at least 2 rows; fine pixels
    // raised to 0.1 / 0.2 mm. The image has one column per sample and the rows
    // across; a uniform volume windows to one grey (100 HU in 0 ± 200: 191).
    void imageGeometry()
    {
        const struct
        {
            double spacing, width, thickness;
            int mode, rows, layers;
        } cases[] = {{0.5, 40.0, 0.0, 1, 80, 1}, {0.5, 40.0, 3.0, 1, 80, 7}, {0.5, 40.0, 0.3, 1, 80, 3},
                     {0.5, 40.0, 3.0, 0, 80, 1}, {0.5, 0.6, 0.0, 1, 2, 1},   {0.05, 1.0, 100.0, 3, 10, 64}};
        for (const auto &[spacing, width, thickness, mode, rows, layers] : cases) {
            const render::Volume volume = uniformVolume(40, 40, 40, spacing, spacing, 1.0);
            QCOMPARE(render::curvedMprRowCount(volume, width), rows);
            QCOMPARE(render::curvedMprLayerCount(volume, thickness, mode), layers);
            const double length = 40 * spacing * 0.5;
            const render::Centerline line = render::buildCenterline(
                {{length * 0.5, 10 * spacing, 20}, {length * 1.5, 10 * spacing, 20}}, 0, spacing, 0);
            render::CurvedMprRequest request{width, thickness, mode, 0.0, 400.0, render::CprLayout::Horizontal};
            const render::CurvedMprImage cpr = render::buildCurvedMpr(volume, line, request);
            QVERIFY2(!cpr.isNull(), qPrintable(cpr.message));
            QCOMPARE(cpr.image.size(), QSize(line.size(), rows));
            QCOMPARE(cpr.image.pixelColor(line.size() / 2, rows / 2).red(), int(render::windowedByte(100, 0, 400)));
            request.layout = render::CprLayout::Vertical;
            QCOMPARE(render::buildCurvedMpr(volume, line, request).image.size(), QSize(rows, line.size()));
        }
    }

    // "Авто" is vertical when more than half of the points differ in z from
    // the first by more than 1.0 (two of four, or exactly 1.0, do not); the
    // other choices force their layout.
    void layoutRule()
    {
        using render::CprLayout;
        using render::CprOrientationChoice;
        const struct
        {
            CprOrientationChoice choice;
            QList<double> zs;
            CprLayout layout;
        } cases[] = {{CprOrientationChoice::Auto, {0, 5, 10}, CprLayout::Vertical},
                     {CprOrientationChoice::Auto, {0, 0.5, 3, 4}, CprLayout::Horizontal},
                     {CprOrientationChoice::Auto, {0, 1.0, 1.0}, CprLayout::Horizontal},
                     {CprOrientationChoice::Horizontal, {0, 5, 10}, CprLayout::Horizontal},
                     {CprOrientationChoice::Vertical, {0, 0, 0}, CprLayout::Vertical}};
        for (const auto &c : cases) {
            Points points;
            for (double z : c.zs)
                points.push_back({double(points.size()) * 10, 0, z});
            QCOMPARE(render::resolveCprLayout(c.choice, points), c.layout);
        }
    }

    void stateRoundTrip()
    {
        const render::CprParameters p{{{1.5, 2.25, 3}, {10, 20, 30.125}, {-4, 5, 6}}, 33.5, -2.5, 55, 3, 3, 0.25,
                                      render::CprOrientationChoice::Vertical, 123, 456,
                                      {{u"ruler"_s, 2, {QPointF(1, 2), QPointF(3.5, 4)}, 7, -8}}};
        const QString path = m_dir.filePath(u"state.cprstate.json"_s);
        QString message;
        QVERIFY(render::saveCprState(p, path, message));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(root.value(u"version"_s).toInt(), 1);
        QCOMPARE(root.value(u"orientationChoice"_s).toString(), u"Вертикально"_s);
        render::CprParameters loaded;
        QVERIFY2(render::loadCprState(path, loaded, message), qPrintable(message));
        QVERIFY(loaded == p);

        // The axis offset moves y only, and only from 1e-9 on.
        const Points moved = render::offsetControlPoints(p.controlPoints, p.offsetMm);
        QCOMPARE(moved[1][1], 17.5);
        QCOMPARE(moved[1][0], 10.0);
        QCOMPARE(render::offsetControlPoints(p.controlPoints, 1e-10)[1][1], 20.0);
    }

    void stateMessages_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: no file
        QTest::addColumn<QString>("message");
        const QString corrupt = u"Файл повреждён или имеет неверный формат: "_s;
        const QString unreadable = u"Не удалось прочитать корректные контрольные точки из файла."_s;
        const QByteArray two = R"("controlPoints": [{"x":0,"y":0,"z":0},{"x":1,"y":2,"z":3}])";
        QTest::newRow("missing") << QByteArray() << u"Не удалось открыть файл: %1"_s;
        QTest::newRow("one point") << QByteArray(R"({"version":1,"controlPoints":[{"x":0,"y":0,"z":0}]})")
                                   << u"В файле меньше двух контрольных точек — загружать нечего."_s;
        QTest::newRow("text coordinate") << QByteArray(R"({"controlPoints":[{"x":"a","y":0,"z":0},[1,2,3]]})")
                                         << unreadable;
        QTest::newRow("huge coordinate") << QByteArray(R"({"controlPoints":[[1e300,0,0],[1,2,3]]})") << unreadable;
        QTest::newRow("points not a list") << QByteArray(R"({"controlPoints":5})") << unreadable;
        QTest::newRow("NaN is no JSON") << QByteArray("{" + two + R"(, "widthMm": NaN})") << corrupt + u"*"_s;
        QTest::newRow("huge width") << QByteArray("{" + two + R"(, "widthMm": 1e300})") << corrupt + u"widthMm"_s;
        QTest::newRow("text rotation") << QByteArray("{" + two + R"(, "rotationDeg": "x"})")
                                       << corrupt + u"rotationDeg"_s;
        QTest::newRow("newer version") << QByteArray("{" + two + R"(, "version": 2})") << corrupt + u"version"_s;
        QTest::newRow("unknown layout") << QByteArray("{" + two + R"(, "orientationChoice": "Диагонально"})")
                                        << corrupt + u"orientationChoice"_s;
        QTest::newRow("not an object") << QByteArray("[1, 2]") << corrupt + u"*"_s;
    }

    void stateMessages()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'_'));
        if (!content.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        render::CprParameters parameters;
        parameters.widthMm = 12;
        QString text;
        QVERIFY(!render::loadCprState(path, parameters, text));
        if (message.endsWith(u'*'))
            QVERIFY2(text.startsWith(message.chopped(1)) && text.size() > message.size(), qPrintable(text));
        else
            QCOMPARE(text, message.contains(u"%1"_s) ? message.arg(path) : message);
        QCOMPARE(parameters.widthMm, 12.0); // untouched

        // Saving refuses fewer than two points, and an unwritable place.
        if (content.isEmpty()) {
            render::CprParameters one;
            one.controlPoints = {{0, 0, 0}};
            QVERIFY(!render::saveCprState(one, path, text));
            QCOMPARE(text, u"Недостаточно контрольных точек — нечего сохранять."_s);
            one.controlPoints.push_back({1, 1, 1});
            const QString nowhere = m_dir.filePath(u"no/such/dir/x.cprstate.json"_s);
            QVERIFY(!render::saveCprState(one, nowhere, text));
            QCOMPARE(text, u"Не удалось открыть файл для записи: %1"_s.arg(nowhere));
        }
    }

    // The percentage stays within 0 … 100 % (wider lumen, negative lumen, no
    // whole vessel), and each label once in both kinds.
    void stenosisLabels()
    {
        QCOMPARE(render::stenosisPercent(6, 3), 50.0);
        QCOMPARE(render::stenosisPercent(4, 5), 0.0);
        QCOMPARE(render::stenosisPercent(20, -1), 100.0);
        QCOMPARE(render::stenosisPercent(0, 3), 0.0);
        QCOMPARE(render::diameterStenosisFirstLabel(6), u"Весь сосуд: 6.0 мм — теперь измерьте остаточный просвет"_s);
        QCOMPARE(render::diameterStenosisLabel(6, 3), u"Весь сосуд: 6.0 мм  Просвет: 3.0 мм  Стеноз: 50%"_s);
        QCOMPARE(render::diameterLumenLabel(4, 5), u"Просвет: 5.0 мм  Стеноз: 0%"_s);
        QCOMPARE(render::areaStenosisFirstLabel(20), u"Весь сосуд: S=20.0 мм² — теперь обведите остаточный просвет"_s);
        QCOMPARE(render::areaStenosisLabel(20, -1), u"Весь сосуд: S=20.0 мм²  Просвет: S=-1.0 мм²  Стеноз: 100%"_s);
        QCOMPARE(render::areaLumenLabel(0, 3), u"Просвет: S=3.0 мм²  Стеноз: 0%"_s);
    }

    void faults_data()
    {
        QTest::addColumn<QList<double>>("coordinates");
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("step");
        QTest::addColumn<QString>("message"); // empty: an image
        const QString rebuild = render::curvedMprRebuildFailedMessage();
        const QString image;
        // The 20 mm cube: x, y, z in 0 … 19 mm.
        const QList<double> across{2, 10, 10, 18, 10, 10};
        QTest::newRow("partly outside: black beyond") << QList<double>{10, 10, 10, 40, 10, 10} << 10.0 << 0.5 << image;
        QTest::newRow("wholly outside") << QList<double>{100, 100, 100, 140, 100, 100} << 10.0 << 0.5 << rebuild;
        QTest::newRow("duplicate points") << QList<double>{2, 10, 10, 2, 10, 10, 18, 10, 10, 18, 10, 10} << 10.0
                                          << 0.5 << image;
        QTest::newRow("all one point") << QList<double>{5, 5, 5, 5, 5, 5} << 10.0 << 0.5 << rebuild;
        QTest::newRow("collinear with up") << QList<double>{10, 10, 1, 10, 10, 18} << 10.0 << 0.5 << image;
        QTest::newRow("NaN point skipped") << QList<double>{2, 10, 10, qQNaN(), 0, 0, 18, 10, 10} << 10.0 << 0.5 << image;
        QTest::newRow("NaN width") << across << qQNaN() << 0.5 << rebuild;
        QTest::newRow("huge width") << across << 1e12 << 0.5
                                    << u"Изображение CPR слишком велико (33 × 16777216 точек) — уменьшите ширину или "
                                       "увеличьте шаг."_s;
        QTest::newRow("tiny step") << across << 10.0 << 1e-9
                                   << u"Кривая слишком длинная для шага 1e-09 мм — увеличьте шаг."_s;
    }

    // Faulty curves and parameters end in a message or a sensible image, never in
    // a crash or a giant allocation.
    void faults()
    {
        QFETCH(QList<double>, coordinates);
        QFETCH(double, width);
        QFETCH(double, step);
        QFETCH(QString, message);
        const render::Volume volume = uniformVolume(20, 20, 20, 1, 1, 1, 300);
        render::CprParameters p;
        for (qsizetype i = 0; i + 2 < coordinates.size(); i += 3)
            p.controlPoints.push_back({coordinates[i], coordinates[i + 1], coordinates[i + 2]});
        p.widthMm = width;
        p.windowCenter = 0;
        p.windowWidth = 200;
        const render::CurvedMprImage cpr = render::buildCurvedMpr(volume, p, step);
        QCOMPARE(cpr.message, message);
        QCOMPARE(cpr.isNull(), !message.isEmpty());
        if (!message.isEmpty())
            return;
        const QImage &image = cpr.image;
        const int along = cpr.layout == render::CprLayout::Horizontal ? image.width() : image.height();
        QCOMPARE(along, cpr.samples);
        auto at = [&](int sample) {
            return cpr.layout == render::CprLayout::Horizontal ? image.pixelColor(sample, image.height() / 2).red()
                                                               : image.pixelColor(image.width() / 2, sample).red();
        };
        QCOMPARE(at(0), 255);
        // Leaving the cube at x = 19 mm: the samples beyond are black.
        QCOMPARE(at(cpr.samples - 1), QByteArray(QTest::currentDataTag()) == "partly outside: black beyond" ? 0 : 255);
    }

    // The CPR along the phantom's true centre line shows a straight lumen of the
    // phantom's width, centred on the line, and the diameter stenosis measured
    // across it matches the phantom's.
    void phantomCprAndStenosis()
    {
        render::CprParameters p;
        for (int k = 0; k <= 20; ++k)
            p.controlPoints.push_back(phantomMm(m_spec, k / 20.0));
        const render::CurvedMprImage cpr = render::buildCurvedMpr(m_phantom, p, 0.5);
        QVERIFY2(!cpr.isNull(), qPrintable(cpr.message));
        QCOMPARE(cpr.layout, render::CprLayout::Vertical);
        QCOMPARE(cpr.rows, 80);
        const double half = (m_spec.vessel.lumenHu + m_spec.vessel.tissueHu) / 2;
        const double radius = m_spec.vessel.radiusMm;
        const double stenosisAt = m_spec.vessel.stenosisArcMm;
        std::vector<double> normalWidths;
        double lumen = 0.0;
        int lumenCount = 0;
        for (int s = 0; s < cpr.samples; ++s) {
            const double arc = s * cpr.stepMm;
            double offset = 0.0;
            const double width = lumenWidthMm(cpr, s, half, &offset);
            if (arc > radius + 1 && arc < cpr.lengthMm - radius - 1
                && std::fabs(arc - stenosisAt) > m_spec.vessel.stenosisLengthMm / 2 + 1) {
                QVERIFY2(std::fabs(width - 2 * radius) < 0.6, qPrintable(u"width %1 at %2 mm"_s.arg(width).arg(arc)));
                QVERIFY2(std::fabs(offset) < 0.4, qPrintable(u"off-centre %1 at %2 mm"_s.arg(offset).arg(arc)));
                normalWidths.push_back(width);
            }
            if (std::fabs(arc - stenosisAt) <= 0.5) {
                lumen += width;
                ++lumenCount;
            }
        }
        QVERIFY(normalWidths.size() > 40 && lumenCount > 0);
        std::sort(normalWidths.begin(), normalWidths.end());
        const double whole = normalWidths[normalWidths.size() / 2];
        const double stenosis = render::stenosisPercent(whole, lumen / lumenCount);
        QVERIFY2(std::fabs(stenosis - m_spec.vessel.stenosisReduction * 100) <= 5,
                 qPrintable(u"stenosis %1% (whole %2 mm, lumen %3 mm)"_s.arg(stenosis).arg(whole).arg(lumen / lumenCount)));

        // The profile finds the same narrowing by area.
        const std::vector<render::VesselProfilePoint> profile = render::vesselProfile(m_phantom, cpr.centerline, 1.0);
        const auto narrowest = std::min_element(profile.begin() + 5, profile.end() - 5, [](const auto &a, const auto &b) {
            return a.lumen.diameterMm < b.lumen.diameterMm;
        });
        QVERIFY2(std::fabs(narrowest->arcMm - stenosisAt) <= 1.5, qPrintable(u"at %1"_s.arg(narrowest->arcMm)));
        QVERIFY(std::fabs(narrowest->lumen.diameterMm - 2 * radius * (1 - m_spec.vessel.stenosisReduction)) < 0.6);
    }

    // Traced between two points of the phantom's curve, the centre line stays
    // within one radius of the true curve; a click far from any lumen says so.
    void phantomTrace()
    {
        const std::vector<std::array<double, 3>> truth = velmaris::gen::vesselCurve(m_spec, 2000);
        render::VesselTrace trace;
        QString message;
        QVERIFY2(render::traceVessel(m_phantom, phantomMm(m_spec, 0.05), phantomMm(m_spec, 0.95), {}, trace, message),
                 qPrintable(message));
        QVERIFY(trace.points.size() > 20);
        for (const Vec3d &point : trace.points) {
            double nearest = 1e9;
            for (const auto &t : truth)
                nearest = std::min(nearest, distance(point, {t[0] - m_spec.origin[0], t[1] - m_spec.origin[1],
                                                             t[2] - m_spec.origin[2]}));
            QVERIFY2(nearest < m_spec.vessel.radiusMm, qPrintable(u"%1 mm off"_s.arg(nearest)));
        }
        QVERIFY(trace.controlPoints.size() >= 2);

        QVERIFY(!render::traceVessel(m_phantom, {2, 2, 2}, phantomMm(m_spec, 0.5), {}, trace, message));
        QCOMPARE(message, u"Рядом с точкой нет контрастированного просвета (от 150 HU) — щёлкните внутри сосуда."_s);
        QVERIFY(!render::traceVessel(m_phantom, {-5, 2, 2}, phantomMm(m_spec, 0.5), {}, trace, message));
        QCOMPARE(message, u"Точка лежит вне объёма серии — выберите точки внутри сосуда."_s);
    }

    // The verbs on the phantom imported as a DICOM series.
    void cliVerbs()
    {
        SeriesSpec spec = phantomSpec();
        spec.rows = spec.columns = 64;
        spec.slices = 60;
        spec.pixelSpacingRow = spec.pixelSpacingColumn = spec.sliceSpacing = 0.75;
        QVERIFY(velmaris::gen::writeSeries(spec, m_dir.filePath(u"cta"_s), nullptr));
        const QString db = m_dir.filePath(u"cta.sqlite3"_s);
        QCOMPARE(cli({u"import"_s, m_dir.filePath(u"cta"_s), u"--db"_s, db}).exitCode, 0);

        auto text = [&](double t) {
            const Vec3d p = phantomMm(spec, t);
            return u"%1,%2,%3"_s.arg(p[0]).arg(p[1]).arg(p[2]);
        };
        QStringList points;
        for (int k = 0; k <= 10; ++k)
            points << text(k / 10.0);
        const QString png = m_dir.filePath(u"cpr.png"_s);
        const CliRun run = cli({u"cpr"_s, u"--db"_s, db, spec.seriesInstanceUid, u"--points"_s, points.join(u';'),
                                u"--thickness-mm"_s, u"3"_s, u"--window"_s, u"125"_s, u"500"_s, u"--out"_s, png});
        const QJsonObject expected{{u"ok"_s, true}, {u"layout"_s, u"vertical"_s}, {u"width"_s, 53}}; // ⌊40 / 0.75⌋
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(fieldsOf(run.record, expected), compact(expected));
        const double length = run.record.value(u"length_mm"_s).toDouble();
        const int samples = run.record.value(u"height"_s).toInt();
        const QImage image(png);
        QCOMPARE(image.size(), QSize(53, samples));
        // The lumen runs down the middle: bright there, dark at the sides.
        QVERIFY(image.pixelColor(26, image.height() / 4).red() > 150);
        QVERIFY(image.pixelColor(2, image.height() / 4).red() < 100);

        const CliRun traced =
            cli({u"trace"_s, u"--db"_s, db, spec.seriesInstanceUid, u"--from"_s, text(0.1), u"--to"_s, text(0.9)});
        QCOMPARE(traced.exitCode, 0);
        QVERIFY(traced.record.value(u"points"_s).toArray().size() > 10);
        QVERIFY(traced.record.value(u"length_mm"_s).toDouble() > length * 0.6);

        const CliRun one =
            cli({u"cpr"_s, u"--db"_s, db, spec.seriesInstanceUid, u"--points"_s, u"1,2,3"_s, u"--out"_s, png});
        QVERIFY(one.exitCode != 0 && one.err.contains("Нужно не меньше двух контрольных точек"));
    }

private:
    QTemporaryDir m_dir;
    SeriesSpec m_spec;
    render::Volume m_phantom;
};

QTEST_GUILESS_MAIN(CurvedMprTest)
#include "test_curved_mpr.moc"
