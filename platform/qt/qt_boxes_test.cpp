// Boxes asked for from threads that run no toolkit, on the offscreen display:
// each is a real dialog, several stand at once, and each caller gets the
// answer of its own box.
#include "platform/msgbox.h"
#include "platform/qt_ui.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

#include <chrono>
#include <cstdlib>
#include <future>
#include <map>
#include <thread>

using namespace platform;

namespace {

struct Shown {
    QString text;
    QMessageBox::Icon icon;
};

// The boxes on screen by caption, read on the toolkit's thread.
std::map<QString, Shown> BoxesOnScreen() {
    std::map<QString, Shown> out;
    QMetaObject::invokeMethod(
        qApp,
        [&out] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
                    out[box->windowTitle()] = {box->text(), box->icon()};
        },
        Qt::BlockingQueuedConnection);
    return out;
}

void Press(const QString& caption, QMessageBox::StandardButton button) {
    QMetaObject::invokeMethod(
        qApp,
        [caption, button] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->windowTitle() == caption)
                    box->button(button)->click();
        },
        Qt::BlockingQueuedConnection);
}

TEST(QtBoxesFromAnyThread, TwoThreadsEachGetTheAnswerOfTheirOwnBox) {
    setenv("DISPLAY", ":vm-offscreen", 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    for (const char* v : {"VELLUMATE_UI", "VELLUMATE_MSGBOX_ANSWER", "VELLUMATE_MSGBOX_LOG"}) unsetenv(v);
    SetMessageBoxUi(QtMessageBoxFromAnyThread);

    // The callers stay blocked on a box nobody answers when the test fails,
    // so they are left to the process.
    auto ask = [](const char* caption, const char* text, MsgIcon icon) {
        auto answer = std::make_shared<std::promise<MsgAnswer>>();
        std::future<MsgAnswer> got = answer->get_future();
        std::thread([=] { answer->set_value(MessageBox(caption, text, icon, MsgButtons::YesNoCancel)); }).detach();
        return got;
    };
    std::future<MsgAnswer> first = ask("Vellumate agent", "Target application is inaccessible.", MsgIcon::Error);
    std::future<MsgAnswer> second = ask("Second job", "Failed to open clipboard.", MsgIcon::Warning);

    // Waits at most 20 seconds, so a fault fails instead of hanging.
    while (!QCoreApplication::instance()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::map<QString, Shown> boxes;
    for (int i = 0; i < 2000 && (boxes = BoxesOnScreen()).size() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes["Vellumate agent"].text, "Target application is inaccessible.");
    EXPECT_EQ(boxes["Vellumate agent"].icon, QMessageBox::Critical);
    EXPECT_EQ(boxes["Second job"].icon, QMessageBox::Warning);

    // The later box is answered first: the earlier one's caller waits on.
    Press("Second job", QMessageBox::No);
    ASSERT_EQ(second.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(second.get(), MsgAnswer::No);
    EXPECT_EQ(BoxesOnScreen().count("Vellumate agent"), 1u);
    Press("Vellumate agent", QMessageBox::Yes);
    ASSERT_EQ(first.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(first.get(), MsgAnswer::Yes);
}

}  // namespace
