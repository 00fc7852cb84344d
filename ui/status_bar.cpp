#include "ui/status_bar.h"

#include <algorithm>

namespace trelvo::ui {

namespace {

// Blank space between two neighbouring fields, taken from the left of the later part.
constexpr int FIELD_GAP = 2;
constexpr qreal SMALLEST_POINTS = 6.0;
constexpr qreal POINT_STEP = 0.5;

}  // namespace

StatusBar::StatusBar(QWidget* parent) : QWidget(parent) {
    for (QLabel*& field : fields_) {
        field = new QLabel(this);
        field->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        field->setTextFormat(Qt::PlainText);
        field->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        field->setMargin(0);
    }
    place_fields();
}

void StatusBar::fit_font(const std::array<QString, PARTS>& widest) {
    QFont font = parentWidget() != nullptr ? parentWidget()->font() : this->font();
    setFont(font);
    while (!texts_fit(widest) && font.pointSizeF() - POINT_STEP >= SMALLEST_POINTS) {
        font.setPointSizeF(font.pointSizeF() - POINT_STEP);
        setFont(font);
    }
}

bool StatusBar::texts_fit(const std::array<QString, PARTS>& widest) const {
    for (int part = 0; part < PARTS; ++part) {
        const QLabel& field = *fields_[part];
        if (field.fontMetrics().horizontalAdvance(widest[part]) > field.contentsRect().width())
            return false;
    }
    return true;
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
