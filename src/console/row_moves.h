// Rows that moved: row fingerprints, the search for bands of rows scrolled
// up or down and for rows whose content moved sideways, and the sequences
// that move them on the terminal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console/ecma48.h"

namespace q7t::paint {

// A row's fingerprint: two sums of the cells weighted by their column, which
// the compiler vectorises. It only guides the search for rows that moved: a
// collision costs bytes, never the picture, as every plan is compared cell
// by cell.
std::uint64_t HashCells(const Cell* row, int cols);

// Rows [top, bottom] scrolled up by `by` rows (down when negative).
struct RowShift {
  int top = 0, bottom = 0, by = 0;
};

// The bands worth scrolling: for each distance, each run of wanted rows the
// terminal already shows that far away, scored by the rows it puts right
// less the right rows it would blank; the best few, best first.
int FindRowShifts(const View& v, const std::vector<std::uint64_t>& shown,
                  const std::vector<std::uint64_t>& want, RowShift* best, int max_found);

// Scrolls the band inside a scroll region, reset at once (the next flush
// finds the terminal clean; setting or resetting the region homes the
// cursor): SU/SD, or where the terminal lacks them, deleting (DL) or
// inserting (IL) lines at the band's top. The rows left free are erased in
// `fill`.
void ScrollRows(const View& v, const RowShift& s, Attr fill, Term& t, std::string& out);

// One row's content from column `col` on moved left by `by` columns (right
// when negative): deleting (DCH) or inserting (ICH) characters there.
struct ColShift {
  int row = 0, col = 0, by = 0;
};

// Applies a shift to a row as the terminal does: the columns left free at the
// line's end (DCH) or at `col` (ICH) are erased in `fill`.
void ShiftRowCells(const View& v, const ColShift& s, Attr fill, Cell* row);

// The first column (1-based) where the rows differ, or 0.
int FirstDiff(int cols, const Cell* shown, const Cell* want);

// The distance most changed rows moved sideways by: where a stretch of
// wanted text from a row's first change is found elsewhere on the row the
// terminal shows. 0 when no distance has two rows for it, or none has yet
// after the first few rows probed (where rows moved, most did).
int FindColumnShift(const View& v, const Grid& shown, const Grid& want, std::vector<int>& votes);

}  // namespace q7t::paint
