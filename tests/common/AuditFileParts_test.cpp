// The audit file's index and journal each by themselves: the bytes they leave on the disk and
// what they make of files another process left behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/platform/auditindex.h"
#include "common/platform/auditjournal.h"
#include "tests/common/TempFolder.h"

using namespace PRESCORA_NS::platform;

namespace {

void WriteAll(const std::string& file, const std::string& text) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

uint64_t U64At(const std::string& bytes, std::size_t at) {
  uint64_t value = 0;
  std::memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

// FNV-1a 64 with the journal's own offset basis, written from the format's description.
uint64_t JournalHash(const std::string& bytes, uint64_t hash = 0x14650FB0739D0383ULL) {
  for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ULL;
  return hash;
}

class AuditJournalTest : public ::testing::Test {
 protected:
  TempFolder dir_;
  std::string file_ = dir_ / "audit.log";

  // Recovers with the file open as a writer holds it; what the file holds afterwards.
  bool Recover() {
    int fd = open(file_.c_str(), O_RDWR);
    bool ok = auditjournal::Recover(file_, fd);
    close(fd);
    return ok;
  }
};

// The journal's bytes are the documented ones: a reader built from the description alone finds
// every field where it looks and can check the sum.
TEST_F(AuditJournalTest, LayoutIsTheDocumentedOne) {
  const std::string old = "MENSAJE_ENVIADO=No\n[B]\n";
  const std::string written = "MENSAJE_ENVIADO=Si\nX=1\n[B]\n";
  const std::string journal = auditjournal::MakeJournal(40, old, 40 + 27, written);
  ASSERT_EQ(journal.size(), 48 + old.size());
  EXPECT_EQ(journal.substr(0, 8), "PRSJRN01");
  EXPECT_EQ(U64At(journal, 8), 40u);
  EXPECT_EQ(U64At(journal, 16), old.size());
  EXPECT_EQ(U64At(journal, 24), 67u);
  EXPECT_EQ(U64At(journal, 32), JournalHash(written));
  EXPECT_EQ(U64At(journal, 40), JournalHash(old, JournalHash(journal.substr(0, 40))));
  EXPECT_EQ(journal.substr(48), old);
}

// What a killed writer may leave, and what the next opener makes of it.
TEST_F(AuditJournalTest, RecoveryTable) {
  const std::string head = "[A]\nK=v\n";
  const std::string old = "[B]\nMENSAJE_ENVIADO=No\n[C]\nK=1\n";
  const std::string written = "[B]\nMENSAJE_ENVIADO=Si\nTEXTO=largo\n[C]\nK=1\n";
  const std::string shorter = "[B]\n[C]\n";
  const std::string whole =
      auditjournal::MakeJournal(static_cast<off_t>(head.size()), old,
                                static_cast<off_t>(head.size() + written.size()), written);
  const std::string shrinking =
      auditjournal::MakeJournal(static_cast<off_t>(head.size()), old,
                                static_cast<off_t>(head.size() + shorter.size()), shorter);
  // The file's length alone does not tell a completed write: this one keeps it.
  const std::string sameLength = "[B]\nMENSAJE_ENVIADO=Si\n[C]\nK=2\n";
  const std::string inPlace =
      auditjournal::MakeJournal(static_cast<off_t>(head.size()), old,
                                static_cast<off_t>(head.size() + old.size()), sameLength);
  std::string badSum = whole;
  badSum.back() ^= 1;
  struct Case {
    const char* name;
    std::string file;     // as the killed writer left it
    std::string journal;  // as it left the journal
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"nothing written yet", head + old, whole, head + old},
      {"half written", head + written.substr(0, 20) + old.substr(20), whole, head + old},
      {"written, not yet cut", head + shorter + old.substr(shorter.size()), shrinking, head + old},
      {"same length, half written", head + sameLength.substr(0, 22) + old.substr(22), inPlace,
       head + old},
      {"completed: kept", head + written, whole, head + written},
      {"completed shrink: kept", head + shorter, shrinking, head + shorter},
      {"journal cut in its header", head + old, whole.substr(0, 47), head + old},
      {"journal cut in its bytes", head + written.substr(0, 20), whole.substr(0, whole.size() - 1),
       head + written.substr(0, 20)},
      {"journal with a wrong sum", head + written.substr(0, 20), badSum,
       head + written.substr(0, 20)},
      {"journal longer than it says", head + written.substr(0, 20), whole + "x",
       head + written.substr(0, 20)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteAll(file_, c.file);
    WriteAll(file_ + ".journal", c.journal);
    EXPECT_TRUE(Recover());
    EXPECT_EQ(ReadAll(file_), c.expected);
    EXPECT_FALSE(std::filesystem::exists(file_ + ".journal"));
  }
}

TEST_F(AuditJournalTest, JournalThatIsALinkIsNeitherFollowedNorRemoved) {
  const std::string text = "[A]\nK=v\n";
  WriteAll(file_, text);
  WriteAll(dir_ / "elsewhere", auditjournal::MakeJournal(0, "[Z]\n", 8, text));
  ASSERT_EQ(symlink((dir_ / "elsewhere").c_str(), (file_ + ".journal").c_str()), 0);
  EXPECT_FALSE(Recover());
  EXPECT_EQ(ReadAll(file_), text);
  EXPECT_TRUE(std::filesystem::is_symlink(file_ + ".journal"));
}

class AuditIndexTest : public ::testing::Test {
 protected:
  TempFolder dir_;
  std::string file_ = dir_ / "audit.log";
  std::string text_;
  std::vector<off_t> places_;  // of the sections S0, S1, ...

  void SetUp() override {
    for (int i = 0; text_.size() < 300 * 1024; ++i) {
      places_.push_back(static_cast<off_t>(text_.size()));
      text_ += "[S" + std::to_string(i) +
               "]\nMENSAJE_ENVIADO=Si\nTEXTO_RESPUESTA=" + std::string(600, 'x') + "\n";
    }
    WriteAll(file_, text_);
  }

  // Opens the index as a writer does, and asks it about `name`.
  bool Ask(const std::string& name, uint32_t& place) {
    int fd = open(file_.c_str(), O_RDWR);
    struct stat st {};
    fstat(fd, &st);
    auditindex::Index index(file_, fd, st);
    bool may = index.MayContain(auditindex::NameHash(name), place);
    close(fd);
    return may;
  }
};

TEST_F(AuditIndexTest, BuiltFromTheFileWithTheDocumentedLayout) {
  uint32_t place = 0;
  ASSERT_TRUE(Ask("s7", place));  // names are compared without regard to case
  EXPECT_EQ(place, static_cast<uint32_t>(places_[7]));
  EXPECT_FALSE(Ask("NOT-THERE", place));

  const std::string raw = ReadAll(file_ + ".idx");
  struct stat st {};
  ASSERT_EQ(stat(file_.c_str(), &st), 0);
  ASSERT_GE(raw.size(), 128u);
  EXPECT_EQ(raw.substr(0, 8), "PRSIDX02");
  const uint64_t slots = U64At(raw, 8);
  EXPECT_EQ(slots, 4096u);
  EXPECT_EQ(U64At(raw, 16), places_.size());
  EXPECT_EQ(U64At(raw, 32), static_cast<uint64_t>(st.st_ino));
  EXPECT_EQ(U64At(raw, 40), static_cast<uint64_t>(st.st_size));
  EXPECT_EQ(raw.size(), 128 + 8 * slots);
  // Each section's hash is at its home slot or past it, with its place beside it.
  const uint32_t hash = auditindex::NameHash("S7");
  for (uint64_t slot = hash & (slots - 1);; slot = (slot + 1) & (slots - 1)) {
    uint32_t stored[2];
    std::memcpy(stored, raw.data() + 128 + 8 * slot, sizeof stored);
    ASSERT_NE(stored[0], 0u) << "S7 not in the table";
    if (stored[0] != hash) continue;
    EXPECT_EQ(stored[1], static_cast<uint32_t>(places_[7]));
    break;
  }
}

// An index that does not match its file knows nothing until it is rebuilt from the file: it
// never says "absent" of a section the file holds.
TEST_F(AuditIndexTest, RebuiltWhenItDoesNotMatchTheFile) {
  uint32_t place = 0;
  ASSERT_FALSE(Ask("NEW", place));
  const off_t newPlace = static_cast<off_t>(text_.size());
  WriteAll(file_, text_ + "[NEW]\nK=v\n");  // a writer that kept no index
  ASSERT_TRUE(Ask("NEW", place));
  EXPECT_EQ(place, static_cast<uint32_t>(newPlace));

  std::string garbled = ReadAll(file_ + ".idx");
  std::memset(garbled.data() + 128, 0, garbled.size() - 128);  // an emptied table, header intact
  garbled[7] = '1';                                            // of another version
  WriteAll(file_ + ".idx", garbled);
  EXPECT_TRUE(Ask("S3", place));
  EXPECT_EQ(place, static_cast<uint32_t>(places_[3]));
}

TEST_F(AuditIndexTest, GrowsPastHalfFullAndKeepsEveryName) {
  int fd = open(file_.c_str(), O_RDWR);
  struct stat st {};
  fstat(fd, &st);
  {
    auditindex::Index index(file_, fd, st);
    for (int i = 0; i < 2100; ++i)
      index.Set(auditindex::NameHash("N" + std::to_string(i)), 1000 + i);
    index.Stamp(st);
  }
  auditindex::Index index(file_, fd, st);
  close(fd);
  EXPECT_EQ(U64At(ReadAll(file_ + ".idx"), 8), 8192u);
  for (int i = 0; i < 2100; i += 7) {
    uint32_t place = 0;
    ASSERT_TRUE(index.MayContain(auditindex::NameHash("N" + std::to_string(i)), place)) << i;
    EXPECT_EQ(place, static_cast<uint32_t>(1000 + i));
  }
  uint32_t place = 0;
  EXPECT_TRUE(index.MayContain(auditindex::NameHash("S0"), place));
}

TEST_F(AuditIndexTest, ASmallFileHasNoneAndNothingIsRuledOut) {
  WriteAll(file_, "[A]\nK=v\n");
  uint32_t place = 0;
  EXPECT_TRUE(Ask("ABSENT", place));
  EXPECT_EQ(place, auditindex::Index::kUnknown);
  EXPECT_FALSE(std::filesystem::exists(file_ + ".idx"));
}

}  // namespace
