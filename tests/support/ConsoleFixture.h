#pragma once

#include "FIni.h"
#include "JobIntake.h"
#include "JobsTestSupport.h"
#include "ModConf.h"
#include "ModPrint.h"
#include "RecordingPrinterPort.h"
#include "TestPhotos.h"
#include "ThumbViewer.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

// The main window of a station in a temporary folder: the queue list, the thumbnail viewer and
// the image buttons. Mouse events go in through the window, so they reach the control under the
// pointer and a release goes to the control that took the press, as the operator's do. Timer
// ticks are run by hand. A test class calls setUp() and tearDown() around each test.
class ConsoleFixture
{
protected:
    std::unique_ptr<QTemporaryDir> m_app;
    std::optional<RecordingPrinterPort> m_port; // afresh for each test
    std::unique_ptr<FIni> m_window;

    void setUp()
    {
        m_app = std::make_unique<QTemporaryDir>();
        QVERIFY(CreateFolderLayout(m_app->path()));
        QVERIFY(writeFile(ModConf::settingsFilePath(m_app->path()), "[General]\nPRINT_ALL=True\n"));
        ModConf::SystemFolder = ModConf::AppPath = ModConf::ProgramPath = m_app->path();
        ModConf::Printer10x15 = "Kodak";
        m_port.emplace(QList<RecordingPrinterPort::Printer> { { "Kodak" } });
        ModPrint::setPrinterPort(&*m_port);
        m_window = std::make_unique<FIni>(*m_port, m_app->path());
        m_window->FraView->TimerThumb.stop();
    }
    void tearDown()
    {
        m_window.reset();
        ModPrint::setPrinterPort(nullptr);
        QCOMPARE(liveImageCount(), 0);
    }

    // Adds job `key` (see appendJob); its photos are written at `size`, or missing without one.
    // False when a photo could not be written: call it in QVERIFY.
    [[nodiscard]] bool addJob(const QString &key, int photos, QSize size = {})
    {
        const QByteArray jpeg
            = size.isEmpty() ? QByteArray() : TestPhotos::jpegBytes(size.width(), size.height());
        for (const PhotoItem &photo :
             appendJob(m_window->store, key, photos, m_app->path()).photos) {
            if (!size.isEmpty() && !writeFile(path("images/" + photo.imageFileName), jpeg))
                return false;
        }
        return true;
    }
    // Until the shown job's photos are all in their boxes and nothing is prepared ahead; 1500
    // photos take seconds on a busy machine under the sanitizers.
    void settle()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!viewer().decoding() && !viewer().prefetching(), 60000);
    }
    // Whether box i shows a photo of four quarters, drawn into 0,0,99,66, with these colours.
    bool boxShows(int i, const QList<QColor> &quarters) const
    {
        const QImage box = viewer().PctThumb[i]->grab().toImage();
        const QPoint centres[] = { { 25, 16 }, { 75, 16 }, { 25, 50 }, { 75, 50 } };
        for (int q = 0; q < 4; ++q) {
            if (!TestPhotos::near(box.pixelColor(centres[q]), quarters[q]))
                return false;
        }
        return true;
    }
    void select(int index) { m_window->store.LstJobs.select(index); }
    // Selects job `index` and waits until its photos are in their boxes.
    void showJob(int index)
    {
        select(index);
        settle();
    }
    [[nodiscard]] bool showWindow()
    {
        m_window->show();
        return QTest::qWaitForWindowExposed(m_window.get());
    }
    QStringList entries() const { return entryTexts(m_window->store.LstJobs); }
    ThumbViewer &viewer() const { return *m_window->FraView; }
    bool shown(QWidget *w) const { return w->isVisibleTo(m_window.get()); }
    QWindow *window() const { return m_window->windowHandle(); }
    QPoint centreIn(QWidget *w) const { return w->mapTo(m_window.get(), w->rect().center()); }
    void hover(QWidget *w) const { QTest::mouseMove(window(), centreIn(w)); }
    void click(QWidget *w) const { QTest::mouseClick(window(), Qt::LeftButton, {}, centreIn(w)); }
    QString path(const QString &relative) const { return m_app->filePath(relative); }
};
