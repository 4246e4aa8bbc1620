#include "support.h"

namespace {

TEST(SpaceVerdict, RoomDecisionAndNotes) {
  struct Case {
    std::optional<unsigned long long> free;
    bool built;
    bool ok;
    const wchar_t* note;
  } cases[] = {
      {20 * kGiB, false, true, L"20.0 GB free (about 16 GB are used while building)."},
      {10 * kGiB, false, false, L"Only 10.0 GB free: about 16 GB are needed while building."},
      {10 * kGiB, true, true, L"10.0 GB free (about 16 GB are used while building)."},
      {500 * kMiB, false, false, L"Only 500 MB free: about 16 GB are needed while building."},
      {std::nullopt, false, true, L""},
  };
  for (const Case& c : cases) {
    Verdict v = SpaceVerdict(c.free, c.built);
    EXPECT_EQ(v.ok, c.ok) << c.note;
    EXPECT_EQ(v.note, c.note);
  }
}

}  // namespace
