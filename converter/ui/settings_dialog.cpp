#include "settings_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app.h"
#include "strings.h"
#include "widgets.h"

namespace vellumate::ui {
namespace {

// A number edit's text as the setting it stands for: 0 for a text that is no
// number (an empty one too), the nearer bound for a number out of range.
std::int32_t CorrectedNumber(const QString& text, int high, bool* corrected) {
    const QString t = text.trimmed();
    const bool sign = t.startsWith('-') || t.startsWith('+');
    const QStringView digits = QStringView(t).mid(sign ? 1 : 0);
    bool number = !digits.isEmpty();
    for (QChar c : digits) number = number && c >= '0' && c <= '9';
    std::int32_t value = 0;
    if (number && !t.startsWith('-')) {
        // A run of digits too long to read is out of range all the same.
        bool ok = false;
        const long long v = digits.size() > 12 ? 0 : digits.toLongLong(&ok);
        value = !ok || v > high ? high : static_cast<std::int32_t>(v);
    }
    *corrected = t != QString::number(value);
    return value;
}

QComboBox* Combo(QWidget* parent, int id, int firstString, int count) {
    auto* c = WithId(new QComboBox(parent), id);
    for (int i = 0; i < count; ++i) c->addItem(Text(firstString + i));
    return c;
}

QCheckBox* Check(QWidget* parent, int id, int textId, int tipId = 0) {
    auto* c = WithId(new QCheckBox(Text(textId), parent), id);
    if (tipId) c->setToolTip(Text(tipId));
    return c;
}

QLabel* Label(QWidget* parent, int id, int textId) { return WithId(new QLabel(Text(textId), parent), id); }

// The selected entry's index into `*value`; an empty selection keeps the value.
void ReadCombo(const QComboBox* c, std::int32_t* value) {
    if (c->currentIndex() >= 0) *value = c->currentIndex();
}

}  // namespace

CAdvSettingsDlg::CAdvSettingsDlg(std::string programPath, QWidget* owner)
    : QDialog(owner), programPath_(std::move(programPath)) {
    setObjectName("201");
    setWindowTitle(Text(7112));
    Build();
}

void CAdvSettingsDlg::Build() {
    // Document info.
    docInfo_ = WithId(new QGroupBox(Text(7072), this), 1018);
    auto* doc = new QGridLayout(docInfo_);
    author_ = WithId(new QLineEdit(docInfo_), 1121);
    subject_ = WithId(new QLineEdit(docInfo_), 1122);
    title_ = WithId(new QLineEdit(docInfo_), 1123);
    keywords_ = WithId(new QLineEdit(docInfo_), 1124);
    doc->addWidget(Label(docInfo_, 7007, 7082), 0, 0);
    doc->addWidget(author_, 0, 1, 1, 2);
    doc->addWidget(Label(docInfo_, 7009, 7090), 1, 0);
    doc->addWidget(subject_, 1, 1, 1, 2);
    doc->addWidget(Label(docInfo_, 7010, 7091), 2, 0);
    doc->addWidget(title_, 2, 1, 1, 2);
    doc->addWidget(Label(docInfo_, 7012, 7092), 3, 0);
    doc->addWidget(keywords_, 3, 1, 1, 2);
    compression_ = Combo(docInfo_, 1116, IDS_COMPRESSION_FIRST, 2);
    version_ = Combo(docInfo_, 1117, IDS_VERSION_FIRST, 2);
    charset_ = Combo(docInfo_, 1118, IDS_CHARSET_FIRST, static_cast<int>(CharsetTable().size()));
    auto* jpeg = WithId(new QLineEdit(docInfo_), 1119);
    auto* jpegSpin = WithId(new SpinButton(docInfo_), 1120);
    QLabel* advancedLabels[] = {Label(docInfo_, 1010, 7077), Label(docInfo_, 1009, 7078), Label(docInfo_, 1011, 7079),
                                Label(docInfo_, 1023, 7080)};
    QWidget* advancedFields[] = {compression_, version_, charset_, jpeg};
    for (int i = 0; i < 4; ++i) {
        doc->addWidget(advancedLabels[i], 4 + i, 0);
        doc->addWidget(advancedFields[i], 4 + i, 1, 1, i == 3 ? 1 : 2);
        advancedInDocInfo_ << advancedLabels[i] << advancedFields[i];
    }
    doc->addWidget(jpegSpin, 7, 2, Qt::AlignLeft);
    advancedInDocInfo_ << jpegSpin;
    numbers_[0] = {jpeg, jpegSpin, &PdfSettings::JPEGQuality, 100};

    // Protection.
    protection_ = WithId(new QGroupBox(Text(7073), this), 1019);
    auto* prot = new QGridLayout(protection_);
    protect_ = Check(protection_, 1101, 7094, 3012);
    allowCopy_ = Check(protection_, 1102, 7095, 3013);
    allowModify_ = Check(protection_, 1103, 7096, 3014);
    allowPrint_ = Check(protection_, 1104, 7097, 3015);
    userPassword_ = WithId(new QLineEdit(protection_), 1105);
    ownerPassword_ = WithId(new QLineEdit(protection_), 1106);
    keyLength_ = Combo(protection_, 1107, IDS_KEYLENGTH_FIRST, 2);
    prot->addWidget(protect_, 0, 0, 1, 2);
    prot->addWidget(allowCopy_, 1, 0, 1, 2);
    prot->addWidget(allowModify_, 2, 0, 1, 2);
    prot->addWidget(allowPrint_, 3, 0, 1, 2);
    prot->addWidget(Label(protection_, 1024, 7081), 4, 0);
    prot->addWidget(userPassword_, 4, 1);
    prot->addWidget(Label(protection_, 1025, 7083), 5, 0);
    prot->addWidget(ownerPassword_, 5, 1);
    prot->addWidget(Label(protection_, 1026, 7084), 6, 0);
    prot->addWidget(keyLength_, 6, 1);
    connect(protect_, &QCheckBox::clicked, this, &CAdvSettingsDlg::EnableProtection);

    // Page info.
    pageInfo_ = WithId(new QGroupBox(Text(7074), this), 1020);
    auto* page = new QGridLayout(pageInfo_);
    size_ = Combo(pageInfo_, 1108, IDS_PAPER_FIRST + 1, static_cast<int>(PaperTable().size()) - 1);
    orientation_ = Combo(pageInfo_, 1109, IDS_ORIENTATION_FIRST, 2);
    page->addWidget(Label(pageInfo_, 1027, 7085), 0, 0);
    page->addWidget(size_, 0, 1, 1, 4);
    page->addWidget(Label(pageInfo_, 1028, 7086), 1, 0);
    page->addWidget(orientation_, 1, 1, 1, 4);
    page->addWidget(Label(pageInfo_, 1034, 7130), 2, 0, 1, 5);
    const struct {
        int label, text, edit, spin;
        std::int32_t PdfSettings::*field;
    } margins[] = {{1035, 7131, 1128, 1129, &PdfSettings::MarginLeft},
                   {1036, 7132, 1130, 1131, &PdfSettings::MarginRight},
                   {1037, 7133, 1132, 1133, &PdfSettings::MarginTop},
                   {1038, 7134, 1134, 1135, &PdfSettings::MarginBottom}};
    for (int i = 0; i < 4; ++i) {
        auto* edit = WithId(new QLineEdit(pageInfo_), margins[i].edit);
        auto* spin = WithId(new SpinButton(pageInfo_), margins[i].spin);
        edit->setMaximumWidth(60);
        const int row = 3 + i / 2, col = (i % 2) * 3;
        page->addWidget(Label(pageInfo_, margins[i].label, margins[i].text), row, col);
        page->addWidget(edit, row, col + 1);
        page->addWidget(spin, row, col + 2, Qt::AlignLeft);
        numbers_[1 + i] = {edit, spin, margins[i].field, 999};
    }

    // Viewer options.
    viewer_ = WithId(new QGroupBox(Text(7076), this), 1022);
    auto* view = new QGridLayout(viewer_);
    preserveLinks_ = Check(viewer_, 1110, 7093, 3011);
    center_ = Check(viewer_, 1111, 7098, 3016);
    fit_ = Check(viewer_, 1112, 7099, 3017);
    hideMenu_ = Check(viewer_, 1113, 7100, 3018);
    hideToolbar_ = Check(viewer_, 1114, 7101, 3019);
    hideUi_ = Check(viewer_, 1115, 7102, 3020);
    embedFonts_ = Check(viewer_, 1127, 155, 154);
    pageLayout_ = Combo(viewer_, 1125, IDS_LAYOUT_FIRST, 4);
    pageMode_ = Combo(viewer_, 1126, IDS_MODE_FIRST, 4);
    QCheckBox* checks[] = {preserveLinks_, center_, fit_, hideMenu_, hideToolbar_, hideUi_, embedFonts_};
    for (int i = 0; i < 7; ++i) view->addWidget(checks[i], i / 2, i % 2);
    view->addWidget(Label(viewer_, 1029, 7087), 4, 0);
    view->addWidget(pageLayout_, 4, 1);
    view->addWidget(Label(viewer_, 1030, 7088), 5, 0);
    view->addWidget(pageMode_, 5, 1);

    // Page width.
    pageWidth_ = WithId(new QGroupBox(Text(7075), this), 1021);
    auto* width = new QVBoxLayout(pageWidth_);
    widthGroup_ = new QButtonGroup(this);
    for (int i = 0; i < 3; ++i) {
        auto* radio = WithId(new QRadioButton(Text(IDS_WIDTHADJ_FIRST + i), pageWidth_), 1015 + i);
        widthGroup_->addButton(radio, i);
        width->addWidget(radio);
    }

    // Misc.
    misc_ = WithId(new QGroupBox(Text(7135), this), 1031);
    auto* misc = new QVBoxLayout(misc_);
    pageNumbers_ = Check(misc_, 1040, 140, 139);
    excludeOrphans_ = Check(misc_, 1032, 7103, 3031);
    forceSizes_ = Check(misc_, 1039, 138, 137);
    misc->addWidget(pageNumbers_);
    misc->addWidget(excludeOrphans_);
    misc->addWidget(forceSizes_);
    htmlEngine_ = Combo(misc_, 1041, IDS_ENGINE_FIRST, 3);
    htmlEngine_->setToolTip(Text(7146));
    auto* engine = new QHBoxLayout;
    engine->addWidget(Label(misc_, 1042, 7145));
    engine->addWidget(htmlEngine_, 1);
    misc->addLayout(engine);

    hint_ = WithId(new QLabel(Text(7089), this), 7008);
    hint_->setAlignment(Qt::AlignCenter);
    hint_->setEnabled(false);
    modeButton_ = WithId(new QPushButton(this), 1001);
    auto* ok = WithId(new QPushButton(Text(7107), this), 1);
    auto* cancel = WithId(new QPushButton(Text(7108), this), 2);
    ok->setToolTip(Text(3009));
    cancel->setToolTip(Text(3010));
    ok->setDefault(true);
    modeButton_->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &CAdvSettingsDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CAdvSettingsDlg::reject);
    connect(modeButton_, &QPushButton::clicked, this, &CAdvSettingsDlg::ToggleMode);

    for (const NumberField& f : numbers_) {
        f.spin->SetRange(0, f.high);
        connect(f.edit, &QLineEdit::textChanged, this, [this, &f] { OnNumberEdited(f); });
        connect(f.spin, &SpinButton::Changing, this, [this, &f](int delta) { OnSpin(f, delta); });
    }

    auto* grid = new QGridLayout;
    grid->addWidget(docInfo_, 0, 0);
    grid->addWidget(protection_, 0, 1);
    grid->addWidget(pageInfo_, 1, 0);
    grid->addWidget(viewer_, 1, 1);
    grid->addWidget(pageWidth_, 2, 0);
    grid->addWidget(misc_, 2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(modeButton_);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* box = new QVBoxLayout(this);
    box->addLayout(grid);
    box->addWidget(hint_);
    box->addLayout(buttons);
    box->setSizeConstraint(QLayout::SetFixedSize);
}

int CAdvSettingsDlg::exec() {
    ToControls();
    ApplyLayout();
    return QDialog::exec();
}

void CAdvSettingsDlg::ToControls() {
    const PdfSettings& s = settings;
    author_->setText(FromUtf8(s.Author));
    subject_->setText(FromUtf8(s.Subject));
    title_->setText(FromUtf8(s.Title));
    keywords_->setText(FromUtf8(s.Keywords));
    const std::pair<QCheckBox*, bool> checks[] = {
        {protect_, s.ProtectionEnabled}, {allowCopy_, s.AllowCopy},     {allowModify_, s.AllowModify},
        {allowPrint_, s.AllowPrint},     {preserveLinks_, s.PreserveLinks}, {center_, s.CenterWindow},
        {fit_, s.FitWindow},             {hideMenu_, s.HideMenuBar},    {hideToolbar_, s.HideToolBar},
        {hideUi_, s.HideWindowUI},       {embedFonts_, s.EmbedFonts},   {pageNumbers_, s.PageNumbers},
        {excludeOrphans_, s.ExcludeOrphanPages}, {forceSizes_, s.ForceSizes}};
    for (const auto& [box, on] : checks) box->setChecked(on);
    const std::pair<QComboBox*, std::int32_t> combos[] = {
        {compression_, s.Compression}, {version_, s.Version},   {orientation_, s.Orientation},
        {size_, s.Size - 1},           {keyLength_, s.ProtectionKeyLength}, {pageLayout_, s.PageLayout},
        {pageMode_, s.PageMode},       {charset_, CharsetPositionFromCode(s.Charset)},
        {htmlEngine_, s.HtmlEngine}};
    for (const auto& [combo, index] : combos) combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
    userPassword_->setText(FromUtf8(s.UserPassword));
    ownerPassword_->setText(FromUtf8(s.OwnerPassword));
    // An index outside the group leaves every radio unchecked.
    widthGroup_->setExclusive(false);
    for (QAbstractButton* b : widthGroup_->buttons()) b->setChecked(widthGroup_->id(b) == s.PageWidthAdjusting);
    widthGroup_->setExclusive(true);
    for (const NumberField& f : numbers_) {
        updatingFromSpin_ = true;  // the edit follows the setting; the spin is set here
        f.edit->setText(QString::number(s.*f.field));
        updatingFromSpin_ = false;
        f.spin->SetPosition(s.*f.field);
    }
    EnableProtection();
}

bool CAdvSettingsDlg::FromControls() {
    PdfSettings& s = settings;
    s.Author = ToUtf8(author_->text());
    s.Subject = ToUtf8(subject_->text());
    s.Title = ToUtf8(title_->text());
    s.Keywords = ToUtf8(keywords_->text());
    const std::pair<QCheckBox*, bool*> checks[] = {
        {protect_, &s.ProtectionEnabled}, {allowCopy_, &s.AllowCopy},     {allowModify_, &s.AllowModify},
        {allowPrint_, &s.AllowPrint},     {preserveLinks_, &s.PreserveLinks}, {center_, &s.CenterWindow},
        {fit_, &s.FitWindow},             {hideMenu_, &s.HideMenuBar},    {hideToolbar_, &s.HideToolBar},
        {hideUi_, &s.HideWindowUI},       {embedFonts_, &s.EmbedFonts},   {pageNumbers_, &s.PageNumbers},
        {excludeOrphans_, &s.ExcludeOrphanPages}, {forceSizes_, &s.ForceSizes}};
    for (const auto& [box, field] : checks) *field = box->isChecked();
    s.UserPassword = ToUtf8(userPassword_->text());
    s.OwnerPassword = ToUtf8(ownerPassword_->text());
    s.PageWidthAdjusting = widthGroup_->checkedId();
    for (const NumberField& f : numbers_)
        if (!TransferNumber(f)) return false;
    return true;
}

bool CAdvSettingsDlg::TransferNumber(const NumberField& f) {
    bool corrected = false;
    const std::int32_t value = CorrectedNumber(f.edit->text(), f.high, &corrected);
    settings.*f.field = value;
    if (!corrected) return true;
    {
        const QSignalBlocker quiet(f.edit);  // the corrected text is not checked again
        f.edit->setText(QString::number(value));
    }
    f.edit->setFocus();
    f.edit->selectAll();
    return false;
}

void CAdvSettingsDlg::OnNumberEdited(const NumberField& f) {
    TransferNumber(f);
    if (!updatingFromSpin_) f.spin->SetPosition(settings.*f.field);
}

void CAdvSettingsDlg::OnSpin(const NumberField& f, int delta) {
    const int value = std::clamp(f.spin->Position() + delta, f.spin->Low(), f.spin->High());
    settings.*f.field = value;
    updatingFromSpin_ = true;
    f.edit->setText(QString::number(value));
    updatingFromSpin_ = false;
    f.spin->SetPosition(value);
}

void CAdvSettingsDlg::EnableProtection() {
    // Unchecking disables the protection fields without clearing them.
    const bool on = protect_->isChecked();
    settings.ProtectionEnabled = on;
    for (QWidget* w : std::initializer_list<QWidget*>{allowCopy_, allowModify_, allowPrint_, userPassword_,
                                                       ownerPassword_, keyLength_})
        w->setEnabled(on);
}

void CAdvSettingsDlg::ToggleMode() {
    simpleMode = !simpleMode;
    ApplyLayout();
    author_->setFocus();
}

void CAdvSettingsDlg::ApplyLayout() {
    const bool advanced = !simpleMode;
    for (QWidget* w : advancedInDocInfo_) w->setVisible(advanced);
    for (QWidget* w : std::initializer_list<QWidget*>{protection_, pageInfo_, viewer_, pageWidth_, misc_, hint_})
        w->setVisible(advanced);
    modeButton_->setText(Text(simpleMode ? 7070 : 7071));
    modeButton_->setToolTip(Text(simpleMode ? 3025 : 3026));
    adjustSize();
}

void CAdvSettingsDlg::accept() {
    FromControls();  // a correction does not keep the dialog open
    ReadCombo(compression_, &settings.Compression);
    if (charset_->currentIndex() >= 0) settings.Charset = CharsetCodeFromPosition(charset_->currentIndex());
    ReadCombo(version_, &settings.Version);
    ReadCombo(orientation_, &settings.Orientation);
    if (size_->currentIndex() >= 0) settings.Size = size_->currentIndex() + 1;
    ReadCombo(keyLength_, &settings.ProtectionKeyLength);
    ReadCombo(pageLayout_, &settings.PageLayout);
    ReadCombo(pageMode_, &settings.PageMode);
    ReadCombo(htmlEngine_, &settings.HtmlEngine);
    QDialog::accept();
}

void CAdvSettingsDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        ShowHelpTopic(programPath_, "_Settings.html");
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace vellumate::ui
