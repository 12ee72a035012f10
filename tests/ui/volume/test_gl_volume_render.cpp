#include "ui/volume/GlVolumeRenderer.h"
#include "volume/FilledVolume.h"
#include "volume/SoftwareVolumeRenderer.h"

#include <QtTest>

#include <cmath>
#include <memory>

using namespace Qt::StringLiterals;
using render::ProjectionMode;

namespace {

// Two balls of different density in a 1 mm cube, so that MIP and VRT both
// have edges and inner structure to compare.
std::shared_ptr<render::Volume> phantom()
{
    return std::make_shared<render::Volume>(velmaris::testing::filledVolume(48, 48, 48, [](int x, int y, int z) {
        return std::hypot(x - 20.0, y - 24.0, z - 24.0) < 12.0  ? 700.0f
               : std::hypot(x - 32.0, y - 20.0, z - 30.0) < 8.0 ? 1200.0f
                                                                : -1000.0f;
    }));
}

double meanAbsoluteDifference(const QImage &a, const QImage &b)
{
    double sum = 0.0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * a.width() * a.height());
}

} // namespace

class GlVolumeRenderTest : public QObject
{
    Q_OBJECT

private slots:
    void matchesSoftware_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("cutOut");
        QTest::newRow("MIP") << int(ProjectionMode::Maximum) << false;
        QTest::newRow("mean") << int(ProjectionMode::Mean) << false;
        QTest::newRow("VRT with shading") << int(ProjectionMode::Vrt) << false;
        QTest::newRow("VRT with a cut-out") << int(ProjectionMode::Vrt) << true;
    }

    // The same phantom and camera on both renderers: the pictures agree but for
    // rounding and the GPU's lower-precision filtering.
    void matchesSoftware()
    {
        QFETCH(int, mode);
        QFETCH(bool, cutOut);
        const auto volume = phantom();
        render::VolumeRenderParameters p;
        p.mode = ProjectionMode(mode);
        p.preset = render::presetByName(u"Кости"_s);
        p.camera.level = 100.0;
        p.camera.width = 2200.0;
        p.camera.rotateFree(30.0, 20.0);
        if (cutOut) {
            render::VolumeCutOut c;
            c.direction = p.camera.direction;
            c.right = p.camera.right;
            c.up = p.camera.up;
            c.halfExtentMm = render::volumeRayGeometry(*volume, p).halfExtentMm;
            c.mask = QImage(64, 64, QImage::Format_Grayscale8);
            c.mask.fill(255);
            for (int y = 0; y < 64; ++y)
                std::fill_n(c.mask.scanLine(y) + 32, 32, quint8(0));
            QVERIFY(p.cutOuts.add(c));
        }
        const QSize size(96, 96);
        QImage gpu;
        int gpuSteps = 0;
        QString error, notice;
        QVERIFY2(render::renderVolumeWithOpenGl(*volume, p, size, gpu, &gpuSteps, error, notice), qPrintable(error));
        QVERIFY(notice.isEmpty());
        render::SoftwareVolumeRenderer software(volume);
        int cpuSteps = 0;
        const QImage cpu = software.render(p, size, &cpuSteps);
        QCOMPARE(gpuSteps, cpuSteps);
        QCOMPARE(gpu.size(), cpu.size());
        const double difference = meanAbsoluteDifference(gpu, cpu);
        QVERIFY2(difference < 2.0, qPrintable(QString::number(difference)));
        // And the phantom is actually there: not a black picture on both sides.
        QImage black(size, QImage::Format_RGB32);
        black.fill(Qt::black);
        QVERIFY(meanAbsoluteDifference(cpu, black) > 0.0);
    }

    // A volume longer than the driver's 3D texture limit is shown from a
    // downsampled copy instead of being refused.
    void oversizedVolumeIsDownsampled()
    {
        // 2100 slices: llvmpipe and most drivers stop at 2048.
        const auto volume = velmaris::testing::filledVolume(64, 64, 2100, [](int, int, int) { return 500.0f; });
        render::VolumeRenderParameters p;
        p.mode = ProjectionMode::Maximum;
        p.camera.level = 0.0;
        p.camera.width = 1000.0;
        QImage image;
        QString error, notice;
        QVERIFY2(render::renderVolumeWithOpenGl(volume, p, QSize(200, 200), image, nullptr, error, notice),
                 qPrintable(error));
        QVERIFY2(notice.contains(u"уменьшенная копия"_s), qPrintable(notice));
        QCOMPARE(qRed(image.pixel(100, 100)), 255);
    }
};

QTEST_MAIN(GlVolumeRenderTest)
#include "test_gl_volume_render.moc"
