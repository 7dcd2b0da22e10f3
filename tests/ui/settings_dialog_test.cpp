// The PDF settings dialog: every control to the registry and back, the
// number checks, the protection switch and the two layouts.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

#include "pdf_settings.h"
#include "ui_fixture.h"
#include "widgets.h"

namespace {

using uitest::Click;
using uitest::Control;
using vellumate::PdfSettings;
using vellumate::ui::CAdvSettingsDlg;

class SettingsDialog : public uitest::UiTest {
protected:
    // A dialog filled from `s`, in the advanced layout, shown offscreen.
    std::unique_ptr<CAdvSettingsDlg> Open(const PdfSettings& s, bool simple = false) {
        auto d = std::make_unique<CAdvSettingsDlg>(ctx.programPath);
        d->settings = s;
        d->simpleMode = simple;
        d->ToControls();
        d->ApplyLayout();
        d->show();
        return d;
    }
    static void Type(QLineEdit* edit, const QString& text) {
        edit->clear();
        QTest::keyClicks(edit, text);
    }
};

TEST_F(SettingsDialog, EveryControlTravelsThroughTheRegistry) {
    auto main = MakeDialog();
    settingsAnswer = [](CAdvSettingsDlg& d) {
        d.ToControls();
        d.ApplyLayout();
        d.show();
        Click(Control<QPushButton>(&d, 1001));  // to the advanced layout
        for (auto [id, text] : std::initializer_list<std::pair<int, const char*>>{
                 {1121, "Ann Author"}, {1122, "A subject"}, {1123, "The title"}, {1124, "k1 k2"},
                 {1105, "user pw"}, {1106, "owner pw"}, {1119, "55"}, {1128, "11"}, {1130, "12"}, {1132, "13"},
                 {1134, "14"}})
            Control<QLineEdit>(&d, id)->setText(QString::fromUtf8(text));
        // Every check box the other way round from the defaults.
        const PdfSettings defaults;
        const std::pair<int, bool> checks[] = {
            {1101, !defaults.ProtectionEnabled}, {1102, !defaults.AllowCopy},   {1103, !defaults.AllowModify},
            {1104, !defaults.AllowPrint},        {1110, !defaults.PreserveLinks}, {1111, !defaults.CenterWindow},
            {1112, !defaults.FitWindow},         {1113, !defaults.HideMenuBar}, {1114, !defaults.HideToolBar},
            {1115, !defaults.HideWindowUI},      {1127, !defaults.EmbedFonts},  {1040, !defaults.PageNumbers},
            {1032, !defaults.ExcludeOrphanPages}, {1039, !defaults.ForceSizes}};
        for (auto [id, on] : checks) Control<QCheckBox>(&d, id)->setChecked(on);
        for (auto [id, index] : std::initializer_list<std::pair<int, int>>{
                 {1116, 1}, {1117, 0}, {1118, 15}, {1107, 1}, {1108, 0}, {1109, 1}, {1125, 3}, {1126, 2},
                 {1041, 2}})
            Control<QComboBox>(&d, id)->setCurrentIndex(index);
        Control<QRadioButton>(&d, 1017)->setChecked(true);
        Click(Control<QPushButton>(&d, 1));
        return d.result();
    };
    main->PdfSettings();
    ASSERT_TRUE(BoxTexts().empty());

    // The texts live for the session only; the rest is stored.
    EXPECT_EQ(ctx.settings.Author, "Ann Author");
    EXPECT_EQ(ctx.settings.Subject, "A subject");
    EXPECT_EQ(ctx.settings.Title, "The title");
    EXPECT_EQ(ctx.settings.Keywords, "k1 k2");
    EXPECT_EQ(ctx.settings.UserPassword, "user pw");
    EXPECT_EQ(ctx.settings.OwnerPassword, "owner pw");
    PdfSettings s;
    ASSERT_TRUE(s.Load());
    EXPECT_EQ(s.Title, "");
    EXPECT_EQ(s.JPEGQuality, 55);
    EXPECT_EQ((std::array{s.MarginLeft, s.MarginRight, s.MarginTop, s.MarginBottom}), (std::array{11, 12, 13, 14}));
    const PdfSettings d;
    EXPECT_EQ(s.ProtectionEnabled, !d.ProtectionEnabled);
    EXPECT_EQ(s.AllowCopy, !d.AllowCopy);
    EXPECT_EQ(s.AllowModify, !d.AllowModify);
    EXPECT_EQ(s.AllowPrint, !d.AllowPrint);
    EXPECT_EQ(s.PreserveLinks, !d.PreserveLinks);
    EXPECT_EQ(s.CenterWindow, !d.CenterWindow);
    EXPECT_EQ(s.FitWindow, !d.FitWindow);
    EXPECT_EQ(s.HideMenuBar, !d.HideMenuBar);
    EXPECT_EQ(s.HideToolBar, !d.HideToolBar);
    EXPECT_EQ(s.HideWindowUI, !d.HideWindowUI);
    EXPECT_EQ(s.EmbedFonts, !d.EmbedFonts);
    EXPECT_EQ(s.PageNumbers, !d.PageNumbers);
    EXPECT_EQ(s.ExcludeOrphanPages, !d.ExcludeOrphanPages);
    EXPECT_EQ(s.ForceSizes, !d.ForceSizes);
    EXPECT_EQ(s.Compression, 1);
    EXPECT_EQ(s.Version, 0);
    EXPECT_EQ(s.Charset, 204);  // position 15 is RUSSIAN
    EXPECT_EQ(s.ProtectionKeyLength, 1);
    EXPECT_EQ(s.Size, 1);  // Letter
    EXPECT_EQ(s.Orientation, 1);
    EXPECT_EQ(s.PageLayout, 3);
    EXPECT_EQ(s.PageMode, 2);
    EXPECT_EQ(s.PageWidthAdjusting, 2);
    EXPECT_EQ(s.HtmlEngine, 2);  // browser
    std::int32_t simple = -1;
    ASSERT_TRUE(vellumate::ReadRegInt("", "IsSimpleMode", &simple));
    EXPECT_EQ(simple, 0) << "the dialog was left in the advanced layout";

    // A new session reads them all back into the controls.
    ctx.settings = PdfSettings{};
    auto again = MakeDialog();
    EXPECT_FALSE(again->SettingsDialog().simpleMode);
    auto shown = Open(ctx.settings);
    EXPECT_EQ(Control<QLineEdit>(shown.get(), 1119)->text(), "55");
    EXPECT_EQ(Control<QComboBox>(shown.get(), 1118)->currentText(), "RUSSIAN");
    EXPECT_EQ(Control<QComboBox>(shown.get(), 1108)->currentText(), "Letter");
    EXPECT_EQ(Control<QComboBox>(shown.get(), 1041)->currentText(), "Browser");
    EXPECT_TRUE(Control<QRadioButton>(shown.get(), 1017)->isChecked());
    EXPECT_EQ(Control<QCheckBox>(shown.get(), 1127)->isChecked(), !d.EmbedFonts);
}

TEST_F(SettingsDialog, CancelKeepsTheSettingsButStoresTheLayout) {
    auto main = MakeDialog();
    ctx.settings.Title = "kept";
    settingsAnswer = [](CAdvSettingsDlg& d) {
        d.ToControls();
        d.ApplyLayout();
        d.show();
        Click(Control<QPushButton>(&d, 1001));  // to the advanced layout
        Control<QLineEdit>(&d, 1123)->setText("changed");
        Click(Control<QPushButton>(&d, 2));
        return d.result();
    };
    main->PdfSettings();
    EXPECT_EQ(ctx.settings.Title, "kept");
    PdfSettings stored;
    stored.Load();
    EXPECT_EQ(stored.Title, "");
    std::int32_t simple = -1;
    ASSERT_TRUE(vellumate::ReadRegInt("", "IsSimpleMode", &simple));
    EXPECT_EQ(simple, 0);
    EXPECT_FALSE(main->SettingsDialog().simpleMode);
}

TEST_F(SettingsDialog, NumberEditsAreCorrectedWhileTyped) {
    auto d = Open(PdfSettings{});
    auto* jpeg = Control<QLineEdit>(d.get(), 1119);
    auto* left = Control<QLineEdit>(d.get(), 1128);
    Type(jpeg, "150");
    EXPECT_EQ(jpeg->text(), "100");
    EXPECT_EQ(d->settings.JPEGQuality, 100);
    left->setText("-5");
    EXPECT_EQ(left->text(), "0");
    Type(left, "12a");
    EXPECT_EQ(left->text(), "0") << "a text that is no number gives 0";
    left->clear();
    EXPECT_EQ(left->text(), "0");
    Type(left, "998");
    EXPECT_EQ(left->text(), "998");

    // The spin follows the edit and stops at the range's end.
    auto* spin = Control<vellumate::ui::SpinButton>(d.get(), 1129);
    EXPECT_EQ(spin->Position(), 998);
    QTest::mouseClick(spin->Up(), Qt::LeftButton);
    QTest::mouseClick(spin->Up(), Qt::LeftButton);
    EXPECT_EQ(left->text(), "999");
    EXPECT_EQ(d->settings.MarginLeft, 999);
    QTest::mouseClick(Control<vellumate::ui::SpinButton>(d.get(), 1120)->Down(), Qt::LeftButton);
    EXPECT_EQ(jpeg->text(), "99");

    // OK keeps what the edits say, corrected.
    Control<QLineEdit>(d.get(), 1134)->setText("5000");
    Click(Control<QPushButton>(d.get(), 1));
    EXPECT_EQ(d->settings.MarginBottom, 999);
    EXPECT_EQ(d->result(), QDialog::Accepted);
}

TEST_F(SettingsDialog, ProtectionSwitchDisablesWithoutClearing) {
    PdfSettings s;
    s.ProtectionEnabled = true;
    s.UserPassword = "secret";
    auto d = Open(s);
    const int fields[] = {1102, 1103, 1104, 1105, 1106, 1107};
    for (int id : fields) EXPECT_TRUE(Control<QWidget>(d.get(), id)->isEnabled()) << id;
    Control<QCheckBox>(d.get(), 1101)->click();
    for (int id : fields) EXPECT_FALSE(Control<QWidget>(d.get(), id)->isEnabled()) << id;
    EXPECT_EQ(Control<QLineEdit>(d.get(), 1105)->text(), "secret");
}

TEST_F(SettingsDialog, PaperAndCharsetPositions) {
    PdfSettings s;
    s.Size = 2;
    s.Charset = 99;
    auto d = Open(s);
    EXPECT_EQ(Control<QComboBox>(d.get(), 1108)->currentText(), "A4");
    EXPECT_EQ(Control<QComboBox>(d.get(), 1118)->currentText(), "Default");
    Click(Control<QPushButton>(d.get(), 1));
    EXPECT_EQ(d->settings.Size, 2);
    EXPECT_EQ(d->settings.Charset, 1);
}

TEST_F(SettingsDialog, SimpleLayoutShowsTheDocumentInfoOnly) {
    auto d = Open(PdfSettings{}, true);
    auto* mode = Control<QPushButton>(d.get(), 1001);
    EXPECT_EQ(mode->text(), "Advanced >>");
    EXPECT_EQ(mode->toolTip(), "Show advanced settings such as Protection and Viewer options");
    for (int id : {1121, 1122, 1123, 1124}) EXPECT_TRUE(Control<QWidget>(d.get(), id)->isVisible()) << id;
    for (int id : {1019, 1020, 1021, 1022, 1031, 1116, 1117, 1118, 1119, 1120})
        EXPECT_FALSE(Control<QWidget>(d.get(), id)->isVisible()) << id;
    const QSize simpleSize = d->size();

    Click(mode);
    EXPECT_FALSE(d->simpleMode);
    EXPECT_EQ(mode->text(), "<< Simple");
    EXPECT_EQ(mode->toolTip(), "Switch to simple mode");
    for (int id : {1019, 1020, 1021, 1022, 1031, 1116, 1119, 1101, 1015})
        EXPECT_TRUE(Control<QWidget>(d.get(), id)->isVisible()) << id;
    EXPECT_GT(d->width(), simpleSize.width());
    EXPECT_GT(d->height(), simpleSize.height());
    const QPoint author = Control<QWidget>(d.get(), 1121)->pos();
    const QPoint okAt = Control<QWidget>(d.get(), 1)->pos();

    Click(mode);
    Click(mode);
    EXPECT_EQ(Control<QWidget>(d.get(), 1121)->pos(), author);
    EXPECT_EQ(Control<QWidget>(d.get(), 1)->pos(), okAt);
}

}  // namespace
