#include "day_of_tickets.h"

#include <algorithm>
#include <array>

namespace sa::demo {

namespace {

Line MakeLine(Rng& rng, size_t article) {
  const Article& a = kArticles[article];
  Line l;
  l.article = article;
  if (a.weighed) {
    // Dear cuts are sliced thin; fruit goes by the bag.
    if (a.price >= 2000) {
      l.grams = rng.Between(80, 450);
    } else if (a.section == 3) {
      l.grams = rng.Between(400, 3000);
    } else {
      l.grams = rng.Between(150, 1800);
    }
    l.cents = (static_cast<int64_t>(a.price) * l.grams + 500) / 1000;
  } else {
    l.units = rng.Between(1, 6);
    l.cents = static_cast<int64_t>(a.price) * l.units;
  }
  return l;
}

size_t PickArticle(Rng& rng, size_t section) {
  // Mostly what the scale's counter sells; now and then something else.
  if (!rng.Percent(80)) section = static_cast<size_t>(rng.Between(0, 3));
  std::array<size_t, kArticleCount> candidates{};
  size_t n = 0;
  for (size_t i = 0; i < kArticleCount; ++i) {
    if (static_cast<size_t>(kArticles[i].section) == section) candidates[n++] = i;
  }
  return candidates[static_cast<size_t>(rng.Between(0, static_cast<int>(n) - 1))];
}

}  // namespace

size_t ScaleSection(int scale) { return static_cast<size_t>((scale - 1) % 4); }

std::vector<Ticket> DayTickets(Rng& rng, const ShopOptions& o, std::vector<long>& nextNumber) {
  std::vector<Ticket> tickets(static_cast<size_t>(o.ticketsPerDay));
  for (Ticket& t : tickets) {
    const int hour = kHours[rng.Weighted(kHourWeights)];
    t.second = hour * 3600 + rng.Between(0, 3599);
  }
  std::sort(tickets.begin(), tickets.end(),
            [](const Ticket& a, const Ticket& b) { return a.second < b.second; });
  const int lineWeights[] = {22, 30, 22, 13, 8, 5};
  for (Ticket& t : tickets) {
    t.scale = rng.Between(1, o.scales);
    const size_t section = ScaleSection(t.scale);
    // Each counter's own staff serve most of its customers.
    t.vendor = static_cast<size_t>(rng.Between(0, static_cast<int>(kVendorCount) - 1));
    if (rng.Percent(60)) {
      std::array<size_t, kVendorCount> own{};
      size_t n = 0;
      for (size_t v = 0; v < kVendorCount; ++v) {
        if (static_cast<size_t>(kVendors[v].section) == section) own[n++] = v;
      }
      if (n > 0) t.vendor = own[static_cast<size_t>(rng.Between(0, static_cast<int>(n) - 1))];
    }
    t.number = nextNumber[static_cast<size_t>(t.scale - 1)]++;
    const size_t count = rng.Weighted(lineWeights) + 1;
    for (size_t i = 0; i < count; ++i) t.lines.push_back(MakeLine(rng, PickArticle(rng, section)));
    if (rng.Percent(4)) t.cancelled = MakeLine(rng, PickArticle(rng, section));
    if (rng.Percent(15)) {
      t.customer = &kCustomers[static_cast<size_t>(
          rng.Between(0, static_cast<int>(std::size(kCustomers)) - 1))];
    }
    t.card = t.customer != nullptr ? t.customer->invoiced || rng.Percent(50) : rng.Percent(35);
  }
  return tickets;
}

int64_t Tendered(Rng& rng, int64_t cents) {
  if (rng.Percent(20)) return cents;
  for (const int64_t note : {500, 1000, 2000, 5000, 10000}) {
    if (note >= cents) return note;
  }
  return (cents + 999) / 1000 * 1000;
}

}  // namespace sa::demo
