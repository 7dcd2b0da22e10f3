#include "general_page.h"

#include "error_box.h"

#include "printer/shared/names.h"

#include "platform/printer.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace vmprops {

namespace {

// A sheet of paper with a large letter on it, upright or on its side.
QPixmap OrientationPicture(bool landscape, const QColor& background) {
    QPixmap pm(48, 48);
    pm.fill(background);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF sheet = landscape ? QRectF(4, 10, 40, 28) : QRectF(10, 4, 28, 40);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::white);
    p.drawRect(sheet);
    QFont f = p.font();
    f.setPixelSize(20);
    f.setBold(true);
    p.setFont(f);
    p.drawText(sheet, Qt::AlignCenter, "A");
    return pm;
}

}  // namespace

QString GeneralPage::ResolutionText(int x, int y) {
    QString s = QString("%1 x %2 DPI").arg(x).arg(y);
    if (x == 204 && y == 98) s += " - Standard FAX mode";
    else if (x == 204 && y == 196) s += " - Fine FAX mode";
    return s;
}

GeneralPage::GeneralPage(const Texts& texts) : Page(texts, 1001, "General") {
    auto* orientation = Id(new QGroupBox("Orientation"), 1100);
    portrait_ = Id(new QRadioButton("Portrait"), 1102);
    landscape_ = Id(new QRadioButton("Landscape"), 1104);
    picture_ = Id(new QLabel, 1006);
    picture_->setFixedSize(56, 56);
    picture_->setAlignment(Qt::AlignCenter);
    auto* og = new QGridLayout(orientation);
    og->addWidget(portrait_, 0, 0);
    og->addWidget(landscape_, 1, 0);
    og->addWidget(picture_, 0, 1, 2, 1);

    auto* quality = Id(new QGroupBox("Quality"), 1106);
    resolutions_ = Id(new QComboBox, 1035);
    auto* ql = new QVBoxLayout(quality);
    ql->addWidget(Id(new QLabel("Print quality (resolution)"), 1108));
    ql->addWidget(resolutions_);

    // The printer's own dialog exists only on the other platform family.
    auto* change = Id(new QPushButton("Change orientation and resolution settings"), 1110);
    change->hide();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(orientation);
    layout->addWidget(quality);
    layout->addWidget(change);
    layout->addStretch();
    ApplyTexts();
    Load();

    connect(portrait_, &QRadioButton::clicked, this, [this] {
        SetOrientation(1);
        MarkModified();
    });
    connect(landscape_, &QRadioButton::clicked, this, [this] {
        SetOrientation(2);
        MarkModified();
    });
    connect(resolutions_, &QComboBox::activated, this, [this](int index) {
        QPoint pair = resolutions_->itemData(index).toPoint();
        x_ = pair.x();
        y_ = pair.y();
        MarkModified();
    });
}

void GeneralPage::Load() {
    platform::DeviceMode dm;
    bool read = false;
    if (auto printer = platform::Printer::Open(vmshared::kPrinterName)) {
        for (const auto& [x, y] : printer->Resolutions()) resolutions_->addItem(ResolutionText(x, y), QPoint(x, y));
        read = printer->DefaultDeviceMode(&dm);
        if (!read) ErrorBox("DocumentProperties() failed.");
    } else {
        ErrorBox("OpenPrinter() error.");
    }
    if (!read) {
        for (QWidget* w : findChildren<QWidget*>()) w->setEnabled(false);
        SetOrientation(1);
        return;
    }
    x_ = dm.printQuality;
    y_ = dm.yResolution;
    SetOrientation(dm.orientation == 2 ? 2 : 1);
    resolutions_->setCurrentIndex(resolutions_->findData(QPoint(x_, y_)));
}

void GeneralPage::SetOrientation(int orientation) {
    orientation_ = orientation;
    portrait_->setChecked(orientation == 1);
    landscape_->setChecked(orientation == 2);
    picture_->setPixmap(OrientationPicture(orientation == 2, palette().color(QPalette::Button)));
}

bool GeneralPage::Apply() {
    auto printer = platform::Printer::Open(vmshared::kPrinterName);
    if (!printer) {
        ErrorBox("OpenPrinter() failed.");
        return false;
    }
    platform::DeviceMode dm;
    if (!printer->DefaultDeviceMode(&dm)) {
        ErrorBox("GetPrinter() failed.");
        return false;
    }
    platform::DefaultChanges changes;
    changes.orientation = static_cast<std::int16_t>(orientation_);
    changes.xResolution = static_cast<std::int16_t>(x_);
    changes.yResolution = static_cast<std::int16_t>(y_);
    if (!printer->SetDefaults(changes)) {
        ErrorBox("SetPrinter() failed.");
        return false;
    }
    return true;
}

}  // namespace vmprops
