// The status bar of the main window: a row of parts along the window's bottom edge, each a
// sunken text field. The parts end at fixed right edges in pixels; the last one reaches
// the right edge of the bar.
#pragma once

#include <QLabel>
#include <QWidget>

#include <array>

namespace trelvo::ui {

class StatusBar : public QWidget {
    Q_OBJECT

  public:
    static constexpr int PARTS = 4;
    // Right edges of parts 0, 1 and 2; part 3 ends at the bar's right edge.
    static constexpr std::array<int, PARTS - 1> RIGHT_EDGES = {318, 355, 420};

    explicit StatusBar(QWidget* parent = nullptr);

    // Makes the bar's font small enough that each part holds its widest text (empty: any),
    // but never larger than the font the bar has from its window, nor smaller than 6 points.
    void fit_font(const std::array<QString, PARTS>& widest);

    void set_text(int part, const QString& text);
    QString text(int part) const;
    // The field of `part` (0..3), for inspection.
    const QLabel& field(int part) const { return *fields_[part]; }
    // The part's extent along the bar: from the previous part's right edge to its own.
    QRect part_rect(int part) const;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void place_fields();
    bool texts_fit(const std::array<QString, PARTS>& widest) const;

    std::array<QLabel*, PARTS> fields_{};
};

}  // namespace trelvo::ui
