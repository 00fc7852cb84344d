#include "ui/autotest_slot_dialog.h"

#include <QMetaObject>

#include "protocol/file_choice.h"
#include "ui/dialog_units.h"
#include "ui_autotest_slot_dialog.h"

namespace trelvo::ui {

AutotestSlotDialog::AutotestSlotDialog(QWidget* parent, std::string_view directory_text,
                                       std::function<void(std::string_view)> show_message,
                                       bool automatic)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      form_(std::make_unique<Ui::AutotestSlotDialog>()),
      show_message_(std::move(show_message)) {
    form_->setupUi(this);
    convert_template_geometry(*this);
    for (const std::string& entry : autotest_entries(directory_text))
        form_->slot_list->addItem(
            QString::fromUtf8(entry.data(), static_cast<qsizetype>(entry.size())));
    connect_controls();
    if (automatic) {
        // An automatic run always stores the autotest in a new slot.
        QMetaObject::invokeMethod(form_->new_button, &QPushButton::click, Qt::QueuedConnection);
    }
}

AutotestSlotDialog::~AutotestSlotDialog() = default;

void AutotestSlotDialog::connect_controls() {
    connect(form_->new_button, &QPushButton::clicked, this, [this] { press(AUTOTEST_NEW); });
    connect(form_->replace_button, &QPushButton::clicked, this,
            [this] { press(AUTOTEST_REPLACE); });
    connect(form_->delete_button, &QPushButton::clicked, this, [this] { press(AUTOTEST_DELETE); });
    connect(form_->cancel_button, &QPushButton::clicked, this, [this] { press(AUTOTEST_CANCEL); });
}

void AutotestSlotDialog::reject() {
    press(AUTOTEST_CANCEL);
}

void AutotestSlotDialog::press(int button) {
    const QListWidget& list = *form_->slot_list;
    const int selected =
        list.currentItem() != nullptr && list.currentItem()->isSelected() ? list.currentRow() : -1;
    AutotestPress pressed =
        autotest_button(button, static_cast<size_t>(list.count()), selected, choice_.slot);
    if (!pressed.closes) {
        if (show_message_) show_message_(pressed.message);
        return;
    }
    choice_ = pressed.choice;
    done(choice_.result);
}

}  // namespace trelvo::ui
