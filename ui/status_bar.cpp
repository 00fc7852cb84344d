#include "ui/status_bar.h"

#include <algorithm>

namespace trelvo::ui {

namespace {

// Blank space between two neighbouring fields, taken from the left of the later part.
constexpr int FIELD_GAP = 2;

}  // namespace

StatusBar::StatusBar(QWidget* parent) : QWidget(parent) {
    for (QLabel*& field : fields_) {
        field = new QLabel(this);
        field->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        field->setTextFormat(Qt::PlainText);
        field->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        field->setMargin(1);
    }
    place_fields();
}

void StatusBar::set_text(int part, const QString& text) {
    if (part < 0 || part >= PARTS) return;
    fields_[part]->setText(text);
}

QString StatusBar::text(int part) const {
    return part >= 0 && part < PARTS ? fields_[part]->text() : QString();
}

QRect StatusBar::part_rect(int part) const {
    int left = part == 0 ? 0 : RIGHT_EDGES[part - 1];
    int right = part < PARTS - 1 ? RIGHT_EDGES[part] : width();
    right = std::max(right, left);
    return QRect(left, 0, right - left, height());
}

void StatusBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    place_fields();
}

void StatusBar::place_fields() {
    for (int part = 0; part < PARTS; ++part) {
        QRect cell = part_rect(part);
        if (part > 0) cell.setLeft(std::min(cell.left() + FIELD_GAP, cell.right() + 1));
        fields_[part]->setGeometry(cell);
    }
}

}  // namespace trelvo::ui
