// Median-cut quantizer over a cube of 16 x 16 x 16 colour cells.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "colour/reduce.h"

namespace colour {

namespace mediancut {

void SortCells(const ColorCell* cells, std::uint16_t* list, int n, int channel) {
  auto value = [&](int i) { return cells[list[i]].value[channel]; };
  while (n >= 8) {
    // Partition around the middle entry's value; the left part is then sorted by recursion
    // and the right part by the loop.
    const int pivot = value(n / 2);
    int i = -1, j = n;
    for (;;) {
      do ++i; while (value(i) < pivot);
      do --j; while (value(j) > pivot);
      if (j <= i) break;
      std::swap(list[i], list[j]);
    }
    SortCells(cells, list, i, channel);
    list += i;
    n -= i;
  }
  // Insertion sort that moves an entry before every earlier entry of an equal value.
  for (int i = 1; i < n; ++i) {
    const std::uint16_t t = list[i];
    const int v = cells[t].value[channel];
    int j = i - 1;
    for (; j >= 0 && value(j) >= v; --j) list[j + 1] = list[j];
    list[j + 1] = t;
  }
}

void SplitBoxes(ColorCell* cells, CutBox* boxes, int wanted, int& count, std::uint16_t* sortList) {
  while (count < wanted) {
    // The box that is widest along one channel; ties go to the lower box, then to red, green,
    // blue in that order. Only boxes of more than one cell can be cut.
    int chosen = -1, channel = 0, widest = -1;
    for (int b = 0; b < count; ++b) {
      if (boxes[b].cells <= 1) continue;
      for (int c = 0; c < 3; ++c)
        if (boxes[b].extent[c] > widest) {
          widest = boxes[b].extent[c];
          chosen = b;
          channel = c;
        }
    }
    if (chosen < 0) return;
    CutBox& box = boxes[chosen];

    int n = 0;
    for (std::uint16_t c = box.first; c != NoCell && n < box.cells; c = cells[c].next) sortList[n++] = c;
    SortCells(cells, sortList, n, channel);
    for (int k = 0; k + 1 < n; ++k) cells[sortList[k]].next = sortList[k + 1];
    cells[sortList[n - 1]].next = NoCell;
    box.first = sortList[0];

    // The lower part takes cells while it stays within half the pixels, leaving at least one.
    const int half = box.pixels / 2;
    int lower = 1;
    int lowerPixels = cells[sortList[0]].pixels;
    while (lower + 1 < n && lowerPixels + cells[sortList[lower]].pixels <= half)
      lowerPixels += cells[sortList[lower++]].pixels;

    CutBox& upper = boxes[count];
    upper = box;
    upper.first = sortList[lower];
    upper.cells = n - lower;
    upper.pixels = 0;
    for (int k = lower; k < n; ++k) upper.pixels += cells[sortList[k]].pixels;
    const int top = box.low[channel] + box.extent[channel];
    upper.low[channel] = static_cast<std::uint8_t>(16 * cells[upper.first].value[channel]);
    upper.extent[channel] = static_cast<std::uint8_t>(top - upper.low[channel]);
    cells[sortList[lower - 1]].next = NoCell;

    box.cells = lower;
    box.pixels = lowerPixels;
    box.extent[channel] =
        static_cast<std::uint8_t>(16 * cells[sortList[lower - 1]].value[channel] - box.low[channel]);
    ++count;
  }
}

}  // namespace mediancut

using namespace mediancut;

int MedianCut(WorkImage image, std::uint8_t* palette, int wanted) {
  wanted = std::clamp(wanted, 1, MaxBoxes);
  struct Work {
    ColorCell cells[CellCount];
    CutBox boxes[MaxBoxes];
    std::uint16_t sortList[CellCount];
  };
  auto work = std::make_unique<Work>();
  ColorCell* cells = work->cells;
  CutBox* boxes = work->boxes;
  for (int i = 0; i < CellCount; ++i) {
    cells[i].value[0] = static_cast<std::uint8_t>(i >> 8);
    cells[i].value[1] = static_cast<std::uint8_t>(i >> 4 & 15);
    cells[i].value[2] = static_cast<std::uint8_t>(i & 15);
  }

  // Counting pass. Neighbouring pixels often share a cell: four tables, one per column mod 4, keep
  // the counts of such runs from waiting on each other.
  const std::size_t pixelCount = std::size_t(image.width) * std::size_t(image.height);
  const std::size_t in = DibRowBytes(image.width, 24);
  auto cellOf = [](unsigned b, unsigned g, unsigned r) { return (r & 0xF0) << 4 | (g & 0xF0) | b >> 4; };
  {
    std::vector<std::uint32_t> counts(4 * CellCount);
    std::uint32_t* const c0 = counts.data();
    std::uint32_t* const c1 = c0 + CellCount;
    std::uint32_t* const c2 = c1 + CellCount;
    std::uint32_t* const c3 = c2 + CellCount;
    for (int y = 0; y < image.height; ++y) {
      const std::uint8_t* p = image.pixels + y * in;
      int x = 0;
      for (; x + 4 <= image.width; x += 4, p += 12) {
        ++c0[cellOf(p[0], p[1], p[2])];
        ++c1[cellOf(p[3], p[4], p[5])];
        ++c2[cellOf(p[6], p[7], p[8])];
        ++c3[cellOf(p[9], p[10], p[11])];
      }
      for (; x < image.width; ++x, p += 3) ++c0[cellOf(p[0], p[1], p[2])];
    }
    for (int i = 0; i < CellCount; ++i) cells[i].pixels = static_cast<std::int32_t>(c0[i] + c1[i] + c2[i] + c3[i]);
  }

  // Box 0 holds every occupied cell, chained in increasing cell number.
  for (CutBox& b : work->boxes) b = {{0, 0, 0}, {255, 255, 255}, 0, 0, NoCell};
  std::uint16_t* link = &boxes[0].first;
  for (int i = 0; i < CellCount; ++i) {
    if (cells[i].pixels <= 0) continue;
    *link = static_cast<std::uint16_t>(i);
    link = &cells[i].next;
    ++boxes[0].cells;
  }
  boxes[0].pixels = static_cast<std::int32_t>(pixelCount);
  int count = 1;
  SplitBoxes(cells, boxes, wanted, count, work->sortList);

  // One palette entry per box: the plain mean of its cells, not weighted by their pixels, and
  // black for a near-black mean. A box without cells (an image without pixels) is black too.
  std::memset(palette + 4 * count, 0, 4 * std::size_t(wanted - count));
  for (int k = 0; k < count; ++k) {
    int sum[3] = {}, n = 0;
    for (std::uint16_t c = boxes[k].first; c != NoCell && n < boxes[k].cells; c = cells[c].next, ++n) {
      cells[c].box = static_cast<std::uint8_t>(k);
      for (int ch = 0; ch < 3; ++ch) sum[ch] += cells[c].value[ch];
    }
    int mean[3] = {};
    if (n > 0)
      for (int ch = 0; ch < 3; ++ch) mean[ch] = (16 * sum[ch] + 15) / n;
    if (mean[0] <= 16 && mean[1] <= 16 && mean[2] <= 16) mean[0] = mean[1] = mean[2] = 0;
    std::uint8_t* e = palette + 4 * k;
    e[0] = static_cast<std::uint8_t>(mean[2]);
    e[1] = static_cast<std::uint8_t>(mean[1]);
    e[2] = static_cast<std::uint8_t>(mean[0]);
    e[3] = 0;
  }

  // Output: each pixel becomes the box of its cell, rows in the input's order, padding zero. The
  // pixels are read again as they are overwritten: output byte x of a row lies at or before the
  // pixel's first input byte.
  if (pixelCount == 0) return count;
  std::uint8_t box[CellCount];
  for (int i = 0; i < CellCount; ++i) box[i] = cells[i].box;
  MapPixels(image, [&](unsigned b, unsigned g, unsigned r, int, int) { return box[cellOf(b, g, r)]; });
  return count;
}

}  // namespace colour
