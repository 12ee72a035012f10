// The 3D window on the offscreen platform, where no OpenGL context can be
// made, and the transfer-function editor.
#include "ui/PrivateSettings.h"
#include "seriesgen/SeriesGenerator.h"
#include "ui/viewer/GeneratedSlices.h"
#include "ui/volume/TransferFunctionEditorDialog.h"
#include "ui/volume/TransferFunctionEditorWidget.h"
#include "ui/volume/VirtualEndoscopyWindow.h"
#include "ui/volume/VolumeRenderWidget.h"
#include "ui/volume/Vrt3DWindow.h"
#include "volume/VrtPresetSettings.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace velmaris;

Q_DECLARE_METATYPE(render::TransferFunctionPreset)

class VrtWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        testing::usePrivateSettings(m_dir.filePath(u"settings"_s));
        qRegisterMetaType<render::TransferFunctionPreset>();
    }

    void automaticFallbackToCpu()
    {
        gen::SeriesSpec spec = testing::seriesSpec(40, 48, 48);

        // The offscreen platform cannot make an OpenGL context: the window must
        // end on the CPU widget with the reason.
        Vrt3DWindow window({u"Грудь"_s, testing::writeSlices(spec, m_dir.filePath(u"ct"_s)), u"1.2.3"_s, u"P1"_s});
        QCOMPARE(window.windowTitle(), u"3D VRT — Грудь"_s);
        QVERIFY(window.isCpuMode());
        QVERIFY(window.statusBar()->currentMessage().startsWith(u"OpenGL недоступен: "_s));

        window.show();
        QSignalSpy frames(window.softwareView(), &VolumeRenderWidget::frameReady);
        QTRY_VERIFY_WITH_TIMEOUT(window.volume() != nullptr, 60000);
        QVERIFY(frames.wait(60000) || !window.softwareView()->lastFrame().isNull());
        QTRY_VERIFY_WITH_TIMEOUT(!window.softwareView()->isRendering(), 60000);
        const QImage frame = window.softwareView()->lastFrame();
        int lit = 0;
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x)
                lit += qGray(frame.pixel(x, y)) > 60;
        QVERIFY2(lit > 0, "the bones of the generated CT show in the CPU fallback");
    }

    void curveEditor()
    {
        const render::TransferFunctionPreset bones = render::presetByName(u"Кости"_s);
        TransferFunctionEditorDialog dialog(bones, -1024.0, 3071.0);
        dialog.resize(700, 400);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        TransferFunctionEditorWidget *editor = dialog.editor();
        QSignalSpy finals(&dialog, &TransferFunctionEditorDialog::presetChangedFinal);

        // A drag sends one final curve on release; the node's opacity follows
        // the mouse upwards.
        const QPoint from = editor->nodePosition(1).toPoint();
        const double before = editor->preset().nodes.at(1).opacity;
        QTest::mousePress(editor, Qt::LeftButton, {}, from);
        QTest::mouseMove(editor, from - QPoint(0, 40));
        QTest::mouseRelease(editor, Qt::LeftButton, {}, from - QPoint(0, 40));
        QCOMPARE(finals.size(), 1);
        QVERIFY(editor->preset().nodes.at(1).opacity > before);

        // Saving with an empty name saves "Без имени".
        QSignalSpy saves(&dialog, &TransferFunctionEditorDialog::saveAsPresetRequested);
        dialog.nameEdit()->clear();
        for (QPushButton *button : dialog.findChildren<QPushButton *>())
            if (button->text() == u"Сохранить как пресет"_s)
                button->click();
        QCOMPARE(saves.size(), 1);
        QCOMPARE(saves.first().first().value<render::TransferFunctionPreset>().name, u"Без имени"_s);
    }

    void endoscopyFliesAlongThePath()
    {
        gen::SeriesSpec spec = testing::seriesSpec(20, 32, 32);
        VirtualEndoscopyWindow window(
            {u"Колоноскопия"_s, testing::writeSlices(spec, m_dir.filePath(u"endo"_s)), u"1.2.3"_s, u"P1"_s});
        QTRY_VERIFY_WITH_TIMEOUT(window.volume() != nullptr, 60000);

        // Two clicked points: the endoscope starts on the first, looks towards the
        // second, and the Up key moves it along the path.
        window.addPathPoint(QVector3D(0, -10, 0));
        window.addPathPoint(QVector3D(0, 10, 0));
        QCOMPARE(window.endoscopePosition(), QVector3D(0, -10, 0));
        QVERIFY((window.view()->renderParameters().camera.direction - QVector3D(0, 1, 0)).length() < 1e-5f);
        QTest::keyClick(&window, Qt::Key_Up);
        QVERIFY(window.endoscopePosition().y() > -10.0f);
        QCOMPARE(window.view()->renderParameters().cameraPosMm, window.endoscopePosition());
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(VrtWindowTest)
#include "test_vrt_window.moc"
