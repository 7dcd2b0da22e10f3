// The progress indicator's window on screen (Qt), a module of its own so
// that an indicator without a display never loads the toolkit.
#include "progress_window.h"

#include "printer/shared/names.h"

#include "platform/windows.h"

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

using namespace platform;

namespace {

std::string PagesText(int pages) { return std::to_string(pages) + (pages == 1 ? " page" : " pages"); }

}  // namespace

extern "C" __attribute__((visibility("default"))) std::uint32_t VmModuleAbiVersion() { return kProgressWindowAbi; }

extern "C" __attribute__((visibility("default"))) int VmProgressWindow(int argc, char** argv, const std::string& title,
                                                                      const std::string& jobName, int jobPages) {
    QApplication app(argc, argv);
    QWidget widget;
    widget.setWindowTitle(QString::fromStdString(title));
    auto* layout = new QVBoxLayout(&widget);
    auto* name = new QLabel(QString::fromStdString(jobName.empty() ? std::string("(untitled)") : jobName));
    name->setObjectName("name");
    auto* pages = new QLabel(QString::fromStdString(PagesText(jobPages)));
    pages->setObjectName("pages");
    layout->addWidget(name);
    layout->addWidget(pages);
    widget.setMinimumWidth(320);
    auto window = Window::Create(vmshared::ProgressClassName(), title, [](const WindowMessage& m) -> LRESULT {
        if (m.msg == WM_CLOSE) QMetaObject::invokeMethod(qApp, [] { qApp->quit(); }, Qt::QueuedConnection);
        return 0;
    });
    if (!window) return 1;
    widget.show();
    return app.exec();
}
