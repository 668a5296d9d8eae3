// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <thread>

#include "platform/qt/qt_messages.h"
#include "platform/qt/qt_picture.h"
#include "tests/platform/fifo_guard.h"
#include "tests/support/test_support.h"

namespace orb {
namespace {

int argc = 1;
char arg0[] = "test";
char* argv[] = {arg0, nullptr};

QGuiApplication& App() {
    static QGuiApplication app(argc, argv);
    return app;
}

TEST(QtMessageTarget, SendFromWorkerWaitsForTheWindowThread) {
    App();
    std::atomic<bool> handlerDone{false};
    Qt::HANDLE handlerThread = nullptr;
    CQtMessageTarget target([&](uint32_t, WPARAM w, LPARAM lParam) -> LRESULT {
        handlerThread = QThread::currentThreadId();
        // The worker's block is still valid: it waits for us.
        int* block = reinterpret_cast<int*>(lParam);
        *block += 1;
        handlerDone = true;
        return static_cast<LRESULT>(w + 1);
    });
    LRESULT result = 0;
    int block = 10;
    bool sawHandlerBeforeReturn = false;
    std::thread worker([&] {
        result = target.Send(WM_SCAN_STATUS, 41, reinterpret_cast<LPARAM>(&block));
        sawHandlerBeforeReturn = handlerDone.load();
        target.Post(WM_SEARCH_EVENT, 2, reinterpret_cast<LPARAM>(&block));
    });
    QElapsedTimer timer;
    timer.start();
    while (block < 12 && timer.elapsed() < 5000) QCoreApplication::processEvents();
    worker.join();
    EXPECT_EQ(result, 42);
    EXPECT_TRUE(sawHandlerBeforeReturn);
    EXPECT_EQ(block, 12);
    EXPECT_EQ(handlerThread, QThread::currentThreadId());
}

TEST(QtPictureDecoder, DecodesSupportedFormatsAndRefusesOthers) {
    App();
    test::TempDir dir;
    QImage img(7, 5, QImage::Format_RGB32);
    img.fill(Qt::red);
    CQtPictureDecoder decoder;
    for (const char* fmt : {"PNG", "BMP", "JPEG"}) {
        std::string path = dir / (std::string("cover.") + fmt);
        ASSERT_TRUE(img.save(QString::fromStdString(path), fmt)) << fmt;
        auto pic = decoder.Decode(path);
        ASSERT_TRUE(pic) << fmt;
        EXPECT_EQ(pic->Width(), 7);
        EXPECT_EQ(pic->Height(), 5);
        auto header = DecodePictureHeader(path);
        ASSERT_TRUE(header) << fmt;
        EXPECT_EQ(header->Width(), 7);
    }
    test::WriteFile(dir / "notes.txt", "this is not a picture");
    EXPECT_FALSE(decoder.Decode(dir / "notes.txt"));
    EXPECT_FALSE(DecodePictureHeader(dir / "notes.txt"));
    EXPECT_FALSE(decoder.Decode(dir / "missing.png"));
    // A FIFO named like a picture is refused, not waited on.
    const std::string fifo = dir / "cover.jpg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_TRUE(test::ReturnsWithoutBlockingOn(fifo, [&] { EXPECT_FALSE(decoder.Decode(fifo)); }));
}

}  // namespace
}  // namespace orb
