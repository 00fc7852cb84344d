// A printer that records every call as a line of text, for the printing tests.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/printer.h"

namespace trelvo::testing {

class RecordingPrinter : public Printer {
  public:
    explicit RecordingPrinter(PrinterCapabilities caps) : caps_(caps) {}

    PrinterCapabilities capabilities() override { return caps_; }
    int start_document(std::string_view name) override {
        calls.push_back("start document " + std::string(name));
        return document_result;
    }
    int start_page() override {
        calls.push_back("start page");
        ++pages;
        return page_result;
    }
    int text_out(int x, int y, std::string_view text) override {
        calls.push_back("text " + std::to_string(x) + "," + std::to_string(y) + " " +
                        std::string(text));
        texts.emplace_back(text);
        return 1;
    }
    int end_page() override {
        calls.push_back("end page");
        return 1;
    }
    int end_document() override {
        calls.push_back("end document");
        return 1;
    }

    std::vector<std::string> calls;
    std::vector<std::string> texts;
    int pages = 0;
    int document_result = 1;
    int page_result = 7;

  private:
    PrinterCapabilities caps_;
};

}  // namespace trelvo::testing
