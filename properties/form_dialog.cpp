#include "form_dialog.h"

#include "sheet.h"

#include "platform/printer.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>

namespace vmprops {

namespace {

constexpr double kMmPerInch = 25.4;

// The typed number, or -1 for anything else.
double Number(const QLineEdit* edit) {
    bool ok = false;
    double v = QLocale::c().toDouble(edit->text().trimmed(), &ok);
    return ok ? v : -1;
}

}  // namespace

bool LocaleIsEnglish() { return QLocale::system().measurementSystem() == QLocale::ImperialUSSystem; }

FormDialog::FormDialog(const Texts& texts, QStringList taken, bool metric, QWidget* parent)
    : QDialog(parent), taken_(std::move(taken)) {
    setWindowTitle(texts.Text(3000, "New Paper Form"));
    nameEdit_ = Id(new QLineEdit, 1044);
    nameEdit_->setMaxLength(static_cast<int>(platform::kMaxFormName));
    metricRadio_ = Id(new QRadioButton("Metric"), 1132);
    englishRadio_ = Id(new QRadioButton("English"), 1134);
    widthEdit_ = Id(new QLineEdit, 1041);
    lengthEdit_ = Id(new QLineEdit, 1042);
    unitW_ = Id(new QLabel("mm"), 1087);
    unitL_ = Id(new QLabel("mm"), 1088);
    rangeW_ = Id(new QLabel, 1046);
    rangeL_ = Id(new QLabel, 1047);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("Form name"), 0, 0);
    grid->addWidget(nameEdit_, 0, 1, 1, 3);
    grid->addWidget(new QLabel("Units:"), 1, 0);
    auto* units = new QHBoxLayout;
    units->addWidget(metricRadio_);
    units->addWidget(englishRadio_);
    grid->addLayout(units, 1, 1, 1, 3);
    grid->addWidget(new QLabel("Width"), 2, 0);
    grid->addWidget(widthEdit_, 2, 1);
    grid->addWidget(unitW_, 2, 2);
    grid->addWidget(rangeW_, 2, 3);
    grid->addWidget(new QLabel("Length"), 3, 0);
    grid->addWidget(lengthEdit_, 3, 1);
    grid->addWidget(unitL_, 3, 2);
    grid->addWidget(rangeL_, 3, 3);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    ok_->setObjectName("1");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("2");
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);
    for (QWidget* w : findChildren<QWidget*>()) {
        bool ok = false;
        int id = w->objectName().toInt(&ok);
        if (!ok || id < 1000) continue;
        if (auto* b = qobject_cast<QRadioButton*>(w)) b->setText(texts.Text(id, b->text()));
    }

    connect(buttons, &QDialogButtonBox::accepted, this, &FormDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(metricRadio_, &QRadioButton::clicked, this, [this] { SetUnits(true, true); });
    connect(englishRadio_, &QRadioButton::clicked, this, [this] { SetUnits(false, true); });
    for (QLineEdit* e : {nameEdit_, widthEdit_, lengthEdit_}) connect(e, &QLineEdit::textChanged, this, &FormDialog::Check);
    SetUnits(metric, false);
}

void FormDialog::SetUnits(bool metric, bool convert) {
    if (convert && metric != metric_) {
        double factor = metric ? kMmPerInch : 1 / kMmPerInch;
        for (QLineEdit* e : {widthEdit_, lengthEdit_}) {
            double v = Number(e);
            if (v >= 0) e->setText(QString::asprintf("%.2f", v * factor));
        }
    }
    metric_ = metric;
    metricRadio_->setChecked(metric);
    englishRadio_->setChecked(!metric);
    unitW_->setText(metric ? "mm" : "in");
    unitL_->setText(metric ? "mm" : "in");
    rangeW_->setText(metric ? "[25 ... 841]" : "[1 ... 33]");
    rangeL_->setText(metric ? "[25 ... 1189]" : "[1 ... 46]");
    Check();
}

void FormDialog::Check() {
    double factor = metric_ ? 1 : kMmPerInch;
    double w = Number(widthEdit_) * factor, l = Number(lengthEdit_) * factor;
    QString name = nameEdit_->text();
    bool ok = !name.isEmpty() && !taken_.contains(name) && !name.contains('\\') && w >= 25 && w <= 841 &&
              l >= 25 && l <= 1189;
    ok_->setEnabled(ok);
    if (ok) {
        name_ = name;
        width_ = w;
        length_ = l;
    }
}

void FormDialog::accept() {
    if (ok_->isEnabled()) QDialog::accept();
}

}  // namespace vmprops
