// libFuzzer target: the receive pane and its view, fed what a line brings, in each display form
// the operator can choose (text in code page 1251, hexadecimal, binary), at several widths.
//
// Whatever arrives: the pane holds the end of what arrived (CR, LF and CR LF as one line break
// each, also split between chunks; emptied as a whole at its line limit), its view shows exactly
// that once flushed, and the pane never counts more lines than its limit.
//
// Input: one byte for the form and the view's width, then chunks separated by the byte 0xFF
// followed by 0xFE (any other 0xFF is data).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <QApplication>
#include <QString>

#include "console/cp1251.h"
#include "console/display_forms.h"
#include "console/receive_pane.h"
#include "console/receive_view.h"

namespace {

using velmora::console::ReceivePane;
using velmora::console::ReceiveTextView;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

QApplication* app = nullptr;

// What the pane should hold of `arrived`: line breaks as LF.
QString AsThePaneKeepsIt(const QString& arrived) {
  QString kept;
  for (qsizetype i = 0; i < arrived.size(); ++i) {
    if (arrived[i] == u'\r') {
      kept += u'\n';
      if (i + 1 < arrived.size() && arrived[i + 1] == u'\n') ++i;
    } else {
      kept += arrived[i];
    }
  }
  return kept;
}

std::vector<std::string> Chunks(const uint8_t* data, size_t size) {
  std::vector<std::string> chunks(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF && i + 1 < size && data[i + 1] == 0xFE) {
      chunks.emplace_back();
      ++i;
    } else {
      chunks.back() += static_cast<char>(data[i]);
    }
  }
  return chunks;
}

}  // namespace

// Fontconfig keeps its caches for the life of the process, and Qt's font set-up hands it
// patterns it never frees: not the pane's.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  app = new QApplication(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int form = data[0] % 3;  // text, hexadecimal, binary
  const int width = 40 + (data[0] / 3) * 8;
  ReceiveTextView view;
  view.resize(width, 120);
  ReceivePane pane(&view);

  QString arrived;
  for (const std::string& chunk : Chunks(data + 1, size - 1)) {
    const std::string shown = form == 1   ? velmora::console::ToHexText(chunk)
                              : form == 2 ? velmora::console::ToBinText(chunk)
                                          : chunk;
    const QString text = velmora::console::DecodeCp1251(shown);
    arrived += text;
    pane.Append(text);
    Check(pane.LineCount() <= ReceivePane::kLineLimit);
    Check(AsThePaneKeepsIt(arrived).endsWith(pane.Text()));
  }
  pane.Flush();
  Check(view.toPlainText() == pane.Text());
  Check(pane.LineCount() <= ReceivePane::kLineLimit);
  return 0;
}
