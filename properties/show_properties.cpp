#include "show_properties.h"

#include "prefs.h"
#include "sheet.h"

#include "platform/qt_ui.h"

#include <QApplication>

#include <cstdio>

int ShowProperties(int noGeneral, int noPaper) {
    platform::InstallQtMessageBoxes();
    vmprops::Prefs prefs;
    if (!vmprops::ReadPrefs("", &prefs)) return 1;
    std::unique_ptr<QApplication> own;
    if (!QCoreApplication::instance()) {
        if (!platform::CanShowWindows()) {
            std::fprintf(stderr, "properties: no display to show the printer's properties on\n");
            return 1;
        }
        static int argc = 1;
        static char name[] = "properties";
        static char* argv[] = {name, nullptr};
        own = std::make_unique<QApplication>(argc, argv);
    }
    vmprops::SheetOptions options;
    options.noGeneral = noGeneral != 0;
    options.noPaper = noPaper != 0;
    vmprops::PropertySheet sheet(options, prefs);
    sheet.exec();
    return 0;
}
