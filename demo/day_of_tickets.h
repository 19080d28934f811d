// One day of a sample shop's sales: the tickets its scales print, each with
// its lines, a line now and then taken back, a known customer for some, card
// or cash; and the totals the host keeps of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "catalogue.h"
#include "sample_shop.h"
#include "shop_random.h"

namespace sa::demo {

struct Line {
  size_t article;  // index into kArticles
  int grams = 0;   // weighed articles
  int units = 0;   // articles sold by the unit
  int64_t cents = 0;
};

struct Ticket {
  int second = 0;  // time of sale
  int scale = 1;
  size_t vendor = 0;
  long number = 0;
  std::vector<Line> lines;
  std::optional<Line> cancelled;  // a line taken back before closing the ticket
  const Customer* customer = nullptr;
  bool card = false;
};

struct Totals {
  long tickets = 0, ops = 0, opsCancelled = 0;
  int64_t cents = 0, centsCancelled = 0, grams = 0, gramsCancelled = 0, units = 0,
          unitsCancelled = 0;

  void Add(const Line& l) {
    ++ops;
    cents += l.cents;
    grams += l.grams;
    units += l.units;
  }
  void Cancel(const Line& l) {
    ++opsCancelled;
    centsCancelled += l.cents;
    gramsCancelled += l.grams;
    unitsCancelled += l.units;
  }
};

// The counter a scale stands at: an index into kSections.
size_t ScaleSection(int scale);

// The day's tickets in the order of their time of sale, numbered per scale
// from `nextNumber` (one counter per scale, advanced).
std::vector<Ticket> DayTickets(Rng& rng, const ShopOptions& o, std::vector<long>& nextNumber);

// Cash handed over: the smallest note that covers the total, or the exact
// amount now and then.
int64_t Tendered(Rng& rng, int64_t cents);

}  // namespace sa::demo
