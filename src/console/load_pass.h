// The load's reading of the table file, in one pass. Fed the file's bytes in pieces of any
// size, it writes three of the load's files at once:
//   characters (f_11_1.txt): every byte as a one-character quoted record;
//   cells      (f_12_1.txt): for every cell a record of its line number, its column number
//                            and its text, double quotes turned into apostrophes;
//   working    (f_15_1.txt): the cells, one quoted record a line, `width` cells to a row:
//                            a line with fewer cells is padded with empty ones, the cells
//                            of a line with more go on in a new row.
// A line ends at CR LF, LF or a CR alone; a last line without an end counts when it holds a
// byte; an empty line is one empty cell. ";" separates cells.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace rowkeep {

// Where a file's bytes go, a large piece at a time.
class LoadOutput {
  public:
    virtual ~LoadOutput() = default;
    virtual void write(std::string_view bytes) = 0;
};

// The cell count of the widest line (0 for a file without lines), fed in pieces.
class LineWidths {
  public:
    void feed(const char* bytes, std::size_t n);
    int widest() const;  // with the last line, whether it has a line end or not

  private:
    void end_line();

    long long semicolons_ = 0, widest_ = 0;
    bool open_ = false;      // the current line has a byte
    bool after_cr_ = false;  // the last piece ended in a CR: an LF first in the next is its pair
};

class LoadPass {
  public:
    // Bytes a piece must be readable past its end: cells are read sixteen bytes a step.
    static constexpr std::size_t kLookAhead = 16;

    LoadPass(int width, LoadOutput& characters, LoadOutput& cells, LoadOutput& working);
    ~LoadPass();
    LoadPass(const LoadPass&) = delete;
    LoadPass& operator=(const LoadPass&) = delete;

    // `bytes` is readable up to bytes + n + kLookAhead.
    void feed(const char* bytes, std::size_t n);
    // The end of the file: ends the last line and hands every byte held to the outputs.
    void finish();

    // Rows of the working file, and the cells of its first row (at most `width`).
    int rows() const { return width_ > 0 ? rows_ : 0; }
    const std::vector<std::string>& first_row() const { return first_row_; }

  private:
    class Buffer;

    void expand_characters(const char* bytes, std::size_t n);
    std::size_t take_cell_bytes(const char* bytes, std::size_t n);
    void begin_line();
    void begin_cell();
    void end_cell();
    void end_line();

    const int width_;
    std::unique_ptr<Buffer> characters_, cells_;
    std::unique_ptr<LoadOutput> discard_;  // the working file of a table without columns
    std::unique_ptr<Buffer> working_;
    // The line's number as the cells' records give it: '"', the digits, "\",\"".
    std::string line_prefix_;
    std::string line_digits_ = "0", column_digits_ = "0";
    bool line_open_ = false, after_cr_ = false;
    int rows_ = 0, in_row_ = 0;  // working-file rows begun, and cells in the last
    std::vector<std::string> first_row_;
};

}  // namespace rowkeep
