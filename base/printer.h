// The printer seam: a printer device context as the direct printout uses it. The desktop
// window provides one for the printer the user chose; tests record what is printed.
#pragma once

#include <string_view>

namespace trelvo {

// Device capabilities, all in device pixels.
struct PrinterCapabilities {
    int printable_width = 0;   // horizontal resolution of the printable area
    int printable_height = 0;  // vertical resolution of the printable area
    int physical_width = 0;    // the whole sheet
    int physical_height = 0;
    int offset_x = 0;  // left and top edge of the printable area on the sheet
    int offset_y = 0;
    int pixels_per_inch_x = 0;
    int pixels_per_inch_y = 0;  // a line is a sixth of this high
};

class Printer {
  public:
    virtual ~Printer() = default;
    virtual PrinterCapabilities capabilities() = 0;
    // Each returns a value greater than 0 on success, like the platform's print calls.
    virtual int start_document(std::string_view document_name) = 0;
    virtual int start_page() = 0;
    // Draws `text` with the device's default font, its top left corner at (x, y).
    virtual int text_out(int x, int y, std::string_view text) = 0;
    virtual int end_page() = 0;
    virtual int end_document() = 0;
};

}  // namespace trelvo
