// The PDF writer: small inputs and the exact bytes they must give; every
// document is also read back by qpdf and pdftotext where they are installed.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "documents/pdf_writer.h"
#include "platform/files.h"
#include "tests/support/test_support.h"

namespace olvex::test {
namespace {

std::string Lines(int from, int to, const std::string& tail = "") {
  std::string body;
  for (int i = from; i <= to; ++i) body += "line " + std::to_string(i) + tail + "\n";
  return body;
}

struct Case {
  const char* name;
  std::function<void(PdfSettings&)> set;
  std::vector<std::string> bytes;  // each must be in the document
  std::string text;                // pdftotext must read it (pages end with a form feed; it's lost in 1-point lines)
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"120 lines at 57 a page fill 3 pages", [](PdfSettings& s) { s.body = Lines(1, 120); },
       {"   /Kids [\n   4 0 R\n   6 0 R\n   8 0 R\n   ]\n   /Count 3\n", "T* (line 57) Tj\nET\n",
        "BT\n/F1 12 Tf\n72 738 Td\n0 -12 TD\n(line 58) Tj\n", "xref\n0 11\n0000000000 65535 f \n0000000009 00000 n \n"},
       "line 57\n\n\fline 58\n"},
      {"a page-break marker ends its page; the rest of its line starts the next",
       [](PdfSettings& s) { s.body = "a\r\nb{PAGE}c\r\nd{\\P}"; },
       {"(a) Tj\nT* (b) Tj\nET\n", "0 -12 TD\n(c) Tj\nT* (d) Tj\nET\n", "/Count 3\n"}, "a\nb\n\n\fc\nd\n\n\f\f"},
      {"line numbers on the first and later lines of a page",
       [](PdfSettings& s) { s.body = "1\n2\n3\n4\ntext\nmore"; s.page_height = 2.5; s.font_size = 18; s.line_numbers = true; },
       {"0 -18 TD\n(5:  text) Tj\nT* (6:  more) Tj\nET\n"}, "5: text\n6: more\n"},
      {"the outline links every page and the last one has no /Next",
       [](PdfSettings& s) { s.body = Lines(1, 3) + "f(x) \\ y{PAGE}"; s.page_height = 2; s.outline = true; },
       {"%PDF-1.3\n1 0 obj\n<< /Type /Catalog\n   /Pages 2 0 R\n   /Outlines 10 0 R\n   /PageMode /UseOutlines\n",
        "6 0 obj\n<< /Type /Page\n /Parent 2 0 R\n  /Title (Page 2 - \"f\\(x\\) \\\\ y\")\n  /Dest [6 0 R /XYZ 0 144 0]\n"
        "  /Next 8 0 R\n /MediaBox [0 0 612 144]\n",
        "  /Title (Page 3)\n  /Dest [8 0 R /XYZ 0 144 0]\n /MediaBox",
        "10 0 obj\n<< /Type /Outlines\n /First 4 0 R\n /Last 8 0 R\n /Count 3\n", "0 -12 TD\n(f\\(x\\) \\\\ y) Tj\n"},
       "f(x) \\ y"},
      {"font names", [](PdfSettings& s) { s.body = "x"; s.font = "Comic Sans MS"; },
       {"/BaseFont /Comic#20Sans#20MS\n /Encoding /WinAnsiEncoding\n"}, ""},
      {"wrapped lines push onto a further page and keep every word",
       [](PdfSettings& s) {
         s.body = std::string(150, 'w') + " tail\nnext"; s.page_height = 1.75; s.wrap = true; s.line_numbers = true;
       },
       {"/Count 3\n", "(1:  " + std::string(150, 'w') + " ) Tj\nET\n", "TD\n(tail) Tj\nET\n", "TD\n(2:  next) Tj\n"}, "tail\n\n\f"},
      {"Courier is wider: its lines wrap sooner",
       [](PdfSettings& s) { s.body = std::string(70, 'c') + " d"; s.font = "Courier New"; s.wrap = true; },
       {"/BaseFont /Courier\n", "(" + std::string(70, 'c') + " ) Tj\nT* (d) Tj\n"}, "d\n"},
      {"a line past 448 characters goes on", [](PdfSettings& s) { s.body = std::string(448, 'a') + "END"; },
       {std::string(448, 'a') + ") Tj\nT* (END) Tj\n"}, "END\n"},
      {"page numbers", [](PdfSettings& s) { s.body = "x\ny"; s.page_height = 2; s.page_numbers = true; },
       {"T* (y) Tj\n206 0 Td\nT* ( ) Tj\nT* ( ) Tj\nT* (Page 1 of 1) Tj\nET\n"}, "Page 1 of 1"},
      {"information and code page 1252 text",
       [](PdfSettings& s) { s.body = "caf\xE9 \xDF"; s.producer = "Olvex Studio\xAE 0.1"; s.author = "A (b)"; },
       {"/Producer (Olvex Studio\xAE 0.1)\n/Subject ()\n/Creator (Olvex Studio)\n/Title (doc)\n/Author (A \\(b\\))\n"},
       "caf\xC3\xA9 \xC3\x9F"},
      {"a page beyond 1 MiB", [](PdfSettings& s) { s.body = Lines(1, 20000, " " + std::string(90, 'x')); s.page_height = 200; s.font_size = 1; },
       {"/Count 2\n", "/Length 1561046 >>", "T* (line 20000 x"}, ""},
  };
  return cases;
}

#ifndef _WIN32
bool Installed(const std::string& program) { return platform::PathExists(program); }
#else
bool Installed(const std::string&) { return false; }  // the readers are the Linux build's
#endif

TEST(PdfWriter, EdgeCasesGiveTheirBytesAndReadBack) {
  ScratchDir dir;
  const bool readers = Installed("/usr/bin/qpdf") && Installed("/usr/bin/pdftotext");
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    PdfSettings s;
    s.path = dir.File("doc.pdf");
    c.set(s);
    const std::string document = PdfDocument(s);
    for (const std::string& bytes : c.bytes) EXPECT_NE(document.find(bytes), std::string::npos) << bytes;
    std::string error;
    ASSERT_TRUE(WritePdf(s, &error)) << error;
    EXPECT_EQ(ReadBytes(s.path), document);
    if (!readers) continue;
    const ChildResult check = RunChild({"/usr/bin/qpdf", "--check", s.path});
    EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
    EXPECT_EQ(check.out.find("WARNING"), std::string::npos) << check.out;
    const ChildResult text = RunChild({"/usr/bin/pdftotext", s.path, "-"});
    EXPECT_NE(text.out.find(c.text), std::string::npos) << text.out.substr(0, 400);
  }
  if (!readers) GTEST_SKIP() << "qpdf and pdftotext are not installed";
}

}  // namespace
}  // namespace olvex::test
