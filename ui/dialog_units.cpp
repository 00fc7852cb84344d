#include "ui/dialog_units.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>

#include <algorithm>
#include <vector>

namespace trelvo::ui {

namespace {

// a * b / c, rounded to the nearest integer (non-negative operands).
int scale(int a, int b, int c) {
    return (a * b + c / 2) / c;
}

// Height of a closed drop-down list in dialog units; an entry of the open list takes 8.
constexpr int CLOSED_LIST_UNITS = 14;
constexpr int ENTRY_UNITS = 8;

}  // namespace

DialogBaseUnits dialog_base_units(const QFont& font) {
    QFontMetrics metrics(font);
    int alphabet = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(alphabet / 26 + 1) / 2, metrics.height()};
}

QRect to_pixels(const QRect& units, DialogBaseUnits base) {
    return QRect(scale(units.x(), base.width, 4), scale(units.y(), base.height, 8),
                 scale(units.width(), base.width, 4), scale(units.height(), base.height, 8));
}

void convert_template_geometry(QWidget& form) {
    const DialogBaseUnits base = dialog_base_units(form.font());
    struct Placed {
        QWidget* widget;
        QRect units;
        QRect pixels;
    };
    std::vector<Placed> placed;
    for (QObject* object : form.children()) {
        auto* child = qobject_cast<QWidget*>(object);
        if (child == nullptr || child->isWindow()) continue;
        const QRect units = child->geometry();
        QRect pixels = to_pixels(units, base);
        if (auto* list = qobject_cast<QComboBox*>(child)) {
            int entries = (units.height() - CLOSED_LIST_UNITS) / ENTRY_UNITS;
            list->setMaxVisibleItems(std::max(1, entries));
            pixels.setHeight(list->sizeHint().height());
        }
        // A caption is never cut off: fonts differ in their widths more than in their
        // average, so a check box or a text is widened to its text where it needs to be.
        if (qobject_cast<QCheckBox*>(child) != nullptr || qobject_cast<QLabel*>(child) != nullptr)
            pixels.setWidth(std::max(pixels.width(), child->sizeHint().width()));
        placed.push_back({child, units, pixels});
    }
    // A frame that groups controls grows with them, keeping its inner margin on the right
    // as wide as on the left.
    for (Placed& frame : placed) {
        if (frame.widget->metaObject() != &QFrame::staticMetaObject) continue;
        for (const Placed& inside : placed) {
            if (&inside == &frame || !frame.units.contains(inside.units)) continue;
            const int margin = inside.pixels.left() - frame.pixels.left();
            frame.pixels.setRight(std::max(frame.pixels.right(), inside.pixels.right() + margin));
        }
    }
    for (const Placed& p : placed)
        p.widget->setGeometry(p.pixels);
    form.setFixedSize(to_pixels(QRect(QPoint(0, 0), form.size()), base).size());
}

}  // namespace trelvo::ui
