#include "paper_page.h"

#include "error_box.h"
#include "form_dialog.h"

#include "printer/shared/names.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <cmath>

namespace vmprops {

namespace {

PaperPage::FormDialogHook& Hook() {
    static PaperPage::FormDialogHook hook;
    return hook;
}

}  // namespace

void PaperPage::SetFormDialogHook(FormDialogHook hook) { Hook() = std::move(hook); }

PaperPage::PaperPage(const Texts& texts) : Page(texts, 1002, "Paper Size") {
    list_ = Id(new QComboBox, 1039);
    metricRadio_ = Id(new QRadioButton("Metric"), 1132);
    englishRadio_ = Id(new QRadioButton("English"), 1134);
    width_ = Id(new QLineEdit, 1041);
    length_ = Id(new QLineEdit, 1042);
    width_->setReadOnly(true);
    length_->setReadOnly(true);
    unitW_ = Id(new QLabel("mm"), 1087);
    unitL_ = Id(new QLabel("mm"), 1088);
    add_ = Id(new QPushButton("Add"), 1126);
    delete_ = Id(new QPushButton("Delete"), 1128);

    auto* grid = new QGridLayout(this);
    grid->addWidget(Id(new QLabel("Form"), 1120), 0, 0);
    grid->addWidget(list_, 0, 1, 1, 3);
    grid->addWidget(Id(new QLabel("Units:"), 1130), 1, 0);
    auto* units = new QHBoxLayout;
    units->addWidget(metricRadio_);
    units->addWidget(englishRadio_);
    grid->addLayout(units, 1, 1, 1, 3);
    grid->addWidget(new QLabel("Paper size:"), 2, 0, 1, 4);
    grid->addWidget(Id(new QLabel("Width"), 1122), 3, 0);
    grid->addWidget(width_, 3, 1);
    grid->addWidget(unitW_, 3, 2);
    grid->addWidget(Id(new QLabel("Length"), 1124), 4, 0);
    grid->addWidget(length_, 4, 1);
    grid->addWidget(unitL_, 4, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(add_);
    buttons->addWidget(delete_);
    grid->addLayout(buttons, 5, 0, 1, 4);
    grid->setRowStretch(6, 1);
    ApplyTexts();

    metric_ = !LocaleIsEnglish();
    metricRadio_->setChecked(metric_);
    englishRadio_->setChecked(!metric_);
    platform::DeviceMode dm;
    auto printer = platform::Printer::Open(vmshared::kPrinterName);
    Fill(printer && printer->DefaultDeviceMode(&dm) ? dm.paperSize : 0);

    connect(list_, &QComboBox::activated, this, [this] {
        ShowSelected();
        MarkModified();
    });
    connect(metricRadio_, &QRadioButton::clicked, this, [this] { SetUnits(true); });
    connect(englishRadio_, &QRadioButton::clicked, this, [this] { SetUnits(false); });
    connect(add_, &QPushButton::clicked, this, &PaperPage::AddForm);
    connect(delete_, &QPushButton::clicked, this, &PaperPage::DeleteForm);
}

void PaperPage::Fill(std::int16_t current) {
    list_->clear();
    width_->clear();
    length_->clear();
    papers_.clear();
    if (auto printer = platform::Printer::Open(vmshared::kPrinterName)) papers_ = printer->Papers();
    forms_ = platform::EnumForms();
    for (const platform::PaperInfo& p : papers_) {
        list_->addItem(QString::fromStdString(p.name), static_cast<int>(p.code));
        if (p.code == current) list_->setCurrentIndex(list_->count() - 1);
    }
    if (list_->findData(static_cast<int>(current)) < 0) list_->setCurrentIndex(-1);
    ShowSelected();
}

void PaperPage::ShowSelected() {
    int index = list_->currentIndex();
    bool userForm = false;
    if (index >= 0 && index < static_cast<int>(papers_.size())) {
        const platform::PaperInfo& p = papers_[static_cast<std::size_t>(index)];
        double divisor = metric_ ? 10.0 : 254.0;
        width_->setText(QString::asprintf("%.2f", p.width / divisor));
        length_->setText(QString::asprintf("%.2f", p.length / divisor));
        for (const platform::FormInfo& f : forms_) userForm |= f.name == p.name;
    } else {
        width_->clear();
        length_->clear();
    }
    unitW_->setText(metric_ ? "mm" : "in");
    unitL_->setText(metric_ ? "mm" : "in");
    delete_->setEnabled(userForm);
}

void PaperPage::SetUnits(bool metric) {
    metric_ = metric;
    ShowSelected();
}

void PaperPage::AddForm() {
    QStringList taken;
    for (const platform::PaperInfo& p : papers_) taken << QString::fromStdString(p.name);
    FormDialog dialog(texts_, taken, metric_, this);
    int result = -1;
    if (Hook()) result = Hook()(dialog);
    if (result == -1) result = dialog.exec();
    if (result != QDialog::Accepted) return;
    platform::FormInfo form;
    form.name = dialog.Name().toStdString();
    form.width = static_cast<std::uint32_t>(std::lround(dialog.WidthMm() * 1000));
    form.length = static_cast<std::uint32_t>(std::lround(dialog.LengthMm() * 1000));
    if (!platform::AddForm(form)) {
        ErrorBox("Failed to add new form.");
        return;
    }
    Fill(0);
    list_->setCurrentIndex(list_->findText(dialog.Name(), Qt::MatchExactly));
    ShowSelected();
    MarkModified();
}

void PaperPage::DeleteForm() {
    if (list_->currentIndex() < 0) return;
    if (!platform::DeleteForm(list_->currentText().toStdString())) {
        ErrorBox("Failed to delete form.");
        return;
    }
    // The deleted paper was the selected one, so nothing is selected now.
    Fill(0);
    if (list_->currentIndex() < 0 && list_->count() > 0) {
        list_->setCurrentIndex(0);
        ShowSelected();
        WritePaper();
    }
    MarkModified();
}

bool PaperPage::WritePaper() {
    if (list_->currentIndex() < 0) return true;
    auto printer = platform::Printer::Open(vmshared::kPrinterName);
    if (!printer) {
        ErrorBox("OpenPrinter() failed.");
        return false;
    }
    platform::DefaultChanges changes;
    changes.paperSize = static_cast<std::int16_t>(list_->currentData().toInt());
    if (!printer->SetDefaults(changes)) {
        ErrorBox("SetPrinter() failed.");
        return false;
    }
    return true;
}

bool PaperPage::Apply() {
    if (!WritePaper()) return false;
    forms_ = platform::EnumForms();
    ShowSelected();
    return true;
}

}  // namespace vmprops
