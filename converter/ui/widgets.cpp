#include "widgets.h"

#include <QToolButton>
#include <QVBoxLayout>

#include "strings.h"

namespace vellumate::ui {

QString Text(int id) { return QString::fromStdString(LoadString(id)); }
QString FromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string ToUtf8(const QString& s) { return s.toUtf8().toStdString(); }

SpinButton::SpinButton(QWidget* parent) : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(0);
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFixedSize(16, 11);
        b->setFocusPolicy(Qt::NoFocus);
        box->addWidget(b);
    }
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    up_->setObjectName("up");
    down_->setObjectName("down");
    connect(up_, &QToolButton::clicked, this, [this] { emit Changing(1); });
    connect(down_, &QToolButton::clicked, this, [this] { emit Changing(-1); });
}

}  // namespace vellumate::ui
