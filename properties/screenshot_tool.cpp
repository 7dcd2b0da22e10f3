// properties_ui_tool FOLDER: writes a picture of every page of the sheet
// (properties-<page>.png) and of the new-form dialog into FOLDER.
#include "form_dialog.h"
#include "sheet.h"

#include <QApplication>
#include <QTabWidget>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: properties_ui_tool FOLDER\n");
        return 2;
    }
    QString folder = QString::fromLocal8Bit(argv[1]);
    vmprops::Prefs prefs;
    if (!vmprops::ReadPrefs("", &prefs)) return 1;
    vmprops::PropertySheet sheet({}, prefs);
    sheet.show();
    const char* names[] = {"general", "paper", "emf", "language", "about"};
    for (int i = 0; i < sheet.Tabs()->count() && i < 5; ++i) {
        sheet.Tabs()->setCurrentIndex(i);
        app.processEvents();
        if (!sheet.grab().save(folder + "/properties-" + names[i] + ".png")) return 1;
    }
    vmprops::Texts texts("", prefs.language);
    vmprops::FormDialog form(texts, {}, true);
    form.show();
    app.processEvents();
    return form.grab().save(folder + "/properties-new-form.png") ? 0 : 1;
}
