// The autotest slot dialog: lists the autotests stored in the tester and lets the user put
// the new one into a new slot, replace one, or delete one. Built from its template in
// resources/autotest_slot_dialog.ui.
#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <string_view>

#include "base/platform.h"

namespace Ui {
class AutotestSlotDialog;
}

namespace trelvo::ui {

class AutotestSlotDialog final : public QDialog {
    Q_OBJECT

  public:
    // Shows the entries of `directory_text`. `show_message` shows a message box for the
    // owner window. With `automatic` the dialog presses "New" by itself once it runs.
    AutotestSlotDialog(QWidget* parent, std::string_view directory_text,
                       std::function<void(std::string_view)> show_message, bool automatic);
    ~AutotestSlotDialog() override;

    // How the dialog ended; Cancel until a button closed it.
    const AutotestChoice& choice() const { return choice_; }

  protected:
    // Escape and the close box are Cancel.
    void reject() override;

  private:
    void connect_controls();
    void press(int button);

    std::unique_ptr<Ui::AutotestSlotDialog> form_;
    std::function<void(std::string_view)> show_message_;
    AutotestChoice choice_;
};

}  // namespace trelvo::ui
