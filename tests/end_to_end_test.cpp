// SPDX-License-Identifier: MIT
//
// The built program, run in a fresh directory as a user would run it.

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "reference.h"

namespace {

const std::string DATA = TEST_DATA_DIR;
const std::vector<uint8_t> OLD_OUTPUT = {'e', 'a', 'r', 'l', 'i', 'e', 'r', '\n'};

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = ::testing::TempDir() + "median_e2e_XXXXXX";
    ASSERT_NE(mkdtemp(&templ[0]), nullptr);
    dir_ = templ;
    // The run goes to files outside the work directory, so the directory
    // listing shows only what the program itself leaves.
    out_path_ = dir_ + ".stdout";
    err_path_ = dir_ + ".stderr";
  }
  void TearDown() override {
    std::system(("rm -rf '" + dir_ + "' '" + out_path_ + "' '" + err_path_ + "'").c_str());
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void input_from(const std::string& sample) { write_file(path("input.jpg"), read_file(DATA + "/" + sample)); }
  void input_bytes(const std::vector<uint8_t>& bytes) { write_file(path("input.jpg"), bytes); }

  // Runs the program in the directory, optionally behind shell commands that
  // set limits (bash, so that ulimit -f counts 1024-byte blocks).
  void run(const std::string& prefix = "") { run_script(prefix + " exec \"$0\""); }

  // Runs a bash script in the directory, with the program's path as $0 and
  // `launcher` (say, unshare) in front of bash; the script's exit status
  // stands for the program's.  The script contains no single quotes.
  void run_script(const std::string& script, const std::string& launcher = "") {
    const std::string command = "cd '" + dir_ + "' && " + launcher + " bash -c '" + script + "' '" +
                                MEDIAN_BENCH_EXE + "' > '" + out_path_ + "' 2> '" + err_path_ + "'";
    const int status = std::system(command.c_str());
    exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    stdout_ = slurp(out_path_);
    stderr_ = slurp(err_path_);
  }

  std::set<std::string> listing(const std::string& subdir = "") const {
    std::set<std::string> names;
    if (DIR* d = opendir((subdir.empty() ? dir_ : path(subdir)).c_str())) {
      while (dirent* e = readdir(d))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
      closedir(d);
    }
    return names;
  }

  void expect_four_lines(const std::string& resolution) {
    const std::regex report(
        "Input resolution: " + resolution +
        "\nStart median filtering\n"
        "SSE CPU TIME for 200 runs: [0-9]+\\.[0-9]{4} sec\n"
        "SSE Performance: ([0-9]+\\.[0-9]{4}| *inf) Mpixel/s \\(average of 200 runs\\)\n");
    EXPECT_TRUE(std::regex_match(stdout_, report)) << stdout_;
  }

  // The saved image, decoded, against the scalar median of the decoded input.
  void expect_filtered_output(const std::string& input_file, double min_psnr) {
    Rgb8Image input, output;
    ASSERT_TRUE(decode_rgb(DATA + "/" + input_file, &input));
    ASSERT_TRUE(decode_rgb(path("output.jpg"), &output));
    ASSERT_EQ(output.w, input.w);
    ASSERT_EQ(output.h, input.h);
    EXPECT_GE(psnr(output.pixels, reference_median(input)), min_psnr);
  }

  std::string dir_, out_path_, err_path_;
  int exit_code_ = -1;
  std::string stdout_, stderr_;
};

TEST_F(Program, FiltersAPhotoAndReplacesTheOldOutput) {
  input_from("01-photo-280x360-gopher-plush-baseline444.jpg");
  write_file(path("output.jpg"), OLD_OUTPUT);
  run();
  EXPECT_EQ(exit_code_, 0) << stderr_;
  EXPECT_EQ(stderr_, "");
  expect_four_lines(" 280x 360");
  expect_filtered_output("01-photo-280x360-gopher-plush-baseline444.jpg", 35.0);
  EXPECT_EQ(listing(), (std::set<std::string>{"input.jpg", "output.jpg"}));
}

TEST_F(Program, ConvertsGreyscaleAndFiltersTheSinglePixel) {
  input_from("08-greyscale-512x512-eiffel-tower.jpg");
  run();
  EXPECT_EQ(exit_code_, 0) << stderr_;
  expect_four_lines(" 512x 512");
  expect_filtered_output("08-greyscale-512x512-eiffel-tower.jpg", 35.0);

  // A single pixel's window holds 24 zeros, so it filters to black.
  input_from("17-tiny-1x1-progressive-exif-xmp.jpg");
  run();
  EXPECT_EQ(exit_code_, 0) << stderr_;
  expect_four_lines("   1x   1");
  Rgb8Image output;
  ASSERT_TRUE(decode_rgb(path("output.jpg"), &output));
  for (uint8_t b : output.pixels) EXPECT_LE(b, 2);
}

// Inputs that must be refused before anything is printed or saved.
struct BadInput {
  const char* name;
  std::vector<uint8_t> bytes;  // empty with no_file: no input.jpg at all
  const char* cause;           // a fragment of the message
  bool no_file = false;
};

// Whether this process may mount file systems in a private mount namespace
// (root, outside a container that forbids it).
bool can_mount_privately(const std::string& dir) {
  const std::string command = "unshare -m mount -t tmpfs -o size=4k tmpfs '" + dir + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

std::vector<uint8_t> sample(const char* name) { return read_file(DATA + "/" + name); }

std::vector<BadInput> bad_inputs() {
  const auto photo = sample("02-photo-512x512-eiffel-tower-baseline444.jpg");
  std::vector<uint8_t> cmyk(16 * 16 * 4, 40);
  auto huge = encode_jpeg(8, 8, 3, JCS_RGB, JCS_YCbCr, std::vector<uint8_t>(192, 50));
  patch_jpeg_size(&huge, 64250, 64250);
  auto over_31_bits = huge;
  patch_jpeg_size(&over_31_bits, 26750, 26752);
  auto short_of_data = huge;
  patch_jpeg_size(&short_of_data, 3000, 2000);

  // Damaged scans of otherwise good files.  32 one-bits in a row are no
  // Huffman code of any table, whatever precedes them; near the end of the
  // data, where libjpeg decodes with its careful path (its fast path takes
  // a bad code for a zero without a word, and the damage surfaces later
  // under another name).
  auto bad_code = photo;
  const size_t damage = photo.size() - 2 - 300;
  for (size_t i = 0; i < 8; i += 2) bad_code[damage + i] = 0xFF, bad_code[damage + i + 1] = 0x00;
  auto before_end = photo;
  before_end.insert(before_end.end() - 2, 16, 0x55);
  auto short_scan = photo;  // a sequential scan of coefficients 0..62
  short_scan[scan_header_offset(photo, 0) + 2 + 12 - 2] = 62;
  // The second scan claims to refine bits that no scan has sent.
  auto progression = progressive_jpeg(64, 64, 3, 0);
  const size_t second = scan_header_offset(progression, 1);
  const size_t second_length = size_t(progression[second + 2]) << 8 | progression[second + 3];
  progression[second + 2 + second_length - 1] = 0x32;
  // 20000 x 20000 fits the frame, but its coefficients, all components in
  // full, take 2.4 GB.
  auto coefficients = progressive_jpeg(64, 64, 3, 0);
  patch_jpeg_size(&coefficients, 20000, 20000);
  return {
      {"missing", {}, "No such file or directory", true},
      {"empty", {}, "Empty input file"},
      {"truncated", std::vector<uint8_t>(photo.begin(), photo.begin() + photo.size() / 2),
       "Premature end of JPEG file"},
      {"png", sample("18-png-rgba-500x500-tulips-alpha.png"), "Not a JPEG file"},
      {"cmyk", sample("09-cmyk-adobe-150x103-video-frame.jpg"), "CMYK"},
      {"ycck", encode_jpeg(16, 16, 4, JCS_CMYK, JCS_YCCK, cmyk), "CMYK"},
      {"two components", encode_jpeg(16, 16, 2, JCS_UNKNOWN, JCS_UNKNOWN, std::vector<uint8_t>(512, 60)),
       "2 components are not supported"},
      {"claims 64250x64250", huge, "64250x64250 pixels is too large"},
      {"just over the frame limit", over_31_bits, "26750x26752 pixels is too large"},
      {"valid image just over the frame limit", uniform_grey_jpeg(26750, 26752),
       "26750x26752 pixels is too large"},
      {"claims more pixels than it holds", short_of_data, "premature end"},
      {"bad Huffman code", bad_code, "damaged image data: Corrupt JPEG data: bad Huffman code"},
      {"bytes before the end marker", before_end, "extraneous bytes before marker 0xd9"},
      {"sequential scan of coefficients 0..62 only", short_scan, "Invalid SOS parameters for sequential JPEG"},
      {"inconsistent progression", progression, "Inconsistent progression sequence"},
      {"progressive 4:4:4 coefficients over the limit", coefficients, "needs 2400000000 bytes of coefficients"},
  };
}

TEST_F(Program, RefusesBadInputAndLeavesTheOldOutputAlone) {
  for (const BadInput& bad : bad_inputs()) {
    SCOPED_TRACE(bad.name);
    std::remove(path("input.jpg").c_str());
    if (!bad.no_file) input_bytes(bad.bytes);
    write_file(path("output.jpg"), OLD_OUTPUT);
    run();
    EXPECT_EQ(exit_code_, 1);
    EXPECT_EQ(stdout_, "");
    EXPECT_EQ(stderr_.rfind("median_bench: input.jpg: ", 0), 0u) << stderr_;
    EXPECT_NE(stderr_.find(bad.cause), std::string::npos) << stderr_;
    EXPECT_EQ(std::count(stderr_.begin(), stderr_.end(), '\n'), 1) << stderr_;
    EXPECT_EQ(read_file(path("output.jpg")), OLD_OUTPUT);
    EXPECT_EQ(listing().size(), bad.no_file ? 1u : 2u);
  }
}

// The fuzzer's seeds, and every input it ever broke the program with, run
// through the real program here too, so they stay fixed in every build,
// the sanitizer build included.
TEST_F(Program, EveryFuzzSeedEndsInAReportOrOneLineAboutTheInput) {
  std::set<std::string> seeds;
  if (DIR* d = opendir(FUZZ_CORPUS_DIR)) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0) seeds.insert(name);
    }
    closedir(d);
  }
  ASSERT_FALSE(seeds.empty());
  for (const std::string& seed : seeds) {
    SCOPED_TRACE(seed);
    input_bytes(read_file(std::string(FUZZ_CORPUS_DIR) + "/" + seed));
    write_file(path("output.jpg"), OLD_OUTPUT);
    run();
    if (exit_code_ == 0) {
      EXPECT_EQ(stderr_, "");
      expect_four_lines(" *[0-9]+x *[0-9]+");
      Rgb8Image output;
      EXPECT_TRUE(decode_rgb(path("output.jpg"), &output));
    } else {
      EXPECT_EQ(exit_code_, 1);
      EXPECT_EQ(stdout_, "");
      EXPECT_EQ(stderr_.rfind("median_bench: input.jpg: ", 0), 0u) << stderr_;
      EXPECT_EQ(std::count(stderr_.begin(), stderr_.end(), '\n'), 1) << stderr_;
      EXPECT_EQ(read_file(path("output.jpg")), OLD_OUTPUT);
    }
    EXPECT_EQ(listing(), (std::set<std::string>{"input.jpg", "output.jpg"}));
  }
}

TEST_F(Program, InputThatIsADirectoryIsRefused) {
  ASSERT_EQ(mkdir(path("input.jpg").c_str(), 0755), 0);
  run();
  EXPECT_EQ(exit_code_, 1);
  EXPECT_NE(stderr_.find("input.jpg: Is a directory"), std::string::npos) << stderr_;
}

// The input is opened and read once: a pipe with one writer gives its bytes
// once only, so a second reader of input.jpg would wait for ever (the
// timeout only turns such a hang into a failure).  Size is bounded before
// reading where the file system knows it, and while reading where not.
TEST_F(Program, InputIsReadOnceAndWithinItsSizeBound) {
  const std::string photo = DATA + "/01-photo-280x360-gopher-plush-baseline444.jpg";
  ASSERT_EQ(mkfifo(path("input.jpg").c_str(), 0644), 0);
  run_script("cat \"" + photo + "\" > input.jpg & timeout 300 \"$0\"");
  EXPECT_EQ(exit_code_, 0) << stderr_;
  expect_four_lines(" 280x 360");
  expect_filtered_output("01-photo-280x360-gopher-plush-baseline444.jpg", 35.0);

  std::remove(path("input.jpg").c_str());
  write_file(path("input.jpg"), {});
  ASSERT_EQ(truncate(path("input.jpg").c_str(), (int64_t(1) << 31)), 0);  // sparse
  run();
  EXPECT_EQ(exit_code_, 1);
  EXPECT_NE(stderr_.find("input.jpg: file is larger than 2147483647 bytes"), std::string::npos) << stderr_;

  // An endless device is refused from its first bytes.
  std::remove(path("input.jpg").c_str());
  ASSERT_EQ(symlink("/dev/zero", path("input.jpg").c_str()), 0);
  run_script("timeout 300 \"$0\"");
  EXPECT_EQ(exit_code_, 1);
  EXPECT_NE(stderr_.find("input.jpg: not a readable JPEG: Not a JPEG file: starts with 0x00 0x00"),
            std::string::npos)
      << stderr_;
}

TEST_F(Program, RunsOutOfMemoryCleanly) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer needs more address space than the limits below";
#endif
  // The 16-megapixel photo takes about 50 MB in the library and twice that
  // in the working frames.  Under these address-space limits the decoder or
  // the frame allocation fails, depending on the limit; either way the run
  // must end with a message and leave the old output alone.
  input_from("06-photo-5312x2988-dandelions-16mp-progressive.jpg");
  bool frames_refused = false;
  for (const char* kib : {"60000", "100000", "130000", "145000"}) {
    SCOPED_TRACE(kib);
    write_file(path("output.jpg"), OLD_OUTPUT);
    run(std::string("ulimit -v ") + kib + ";");
    EXPECT_EQ(exit_code_, 1) << stdout_;
    EXPECT_EQ(stdout_, "");
    EXPECT_EQ(stderr_.rfind("median_bench: input.jpg: ", 0), 0u) << stderr_;
    EXPECT_EQ(std::count(stderr_.begin(), stderr_.end(), '\n'), 1) << stderr_;
    EXPECT_EQ(read_file(path("output.jpg")), OLD_OUTPUT);
    frames_refused |= stderr_.find("cannot allocate") != std::string::npos;
  }
  EXPECT_TRUE(frames_refused) << "no limit reached the frame allocation";
  EXPECT_EQ(listing(), (std::set<std::string>{"input.jpg", "output.jpg"}));
}

// The image library stops encoding at a failed write of some images (the
// greyscale one, converted) and not of others; the cause is the write's
// either way.
TEST_F(Program, FailedSaveKeepsTheOldOutputAndLeavesNoTemporaryFile) {
  for (const auto& [photo, size] : {std::pair{"01-photo-280x360-gopher-plush-baseline444.jpg", " 280x 360"},
                                    std::pair{"08-greyscale-512x512-eiffel-tower.jpg", " 512x 512"}}) {
    SCOPED_TRACE(photo);
    input_from(photo);
    write_file(path("output.jpg"), OLD_OUTPUT);
    // The encoded images are over 50 KB: a 16 KB file size limit cuts them
    // short.  With SIGXFSZ ignored the write fails with EFBIG instead of
    // killing us.
    run("ulimit -f 16; trap \"\" XFSZ;");
    EXPECT_EQ(exit_code_, 1);
    expect_four_lines(size);
    EXPECT_NE(stderr_.find("median_bench: output.jpg: cannot write: File too large"), std::string::npos)
        << stderr_;
    EXPECT_EQ(read_file(path("output.jpg")), OLD_OUTPUT);
    EXPECT_EQ(listing(), (std::set<std::string>{"input.jpg", "output.jpg"}));
  }
}

// A disk that really fills up: a tmpfs with room for the input, the old
// output and one page more, mounted in a private mount namespace that ends
// with the run; what the program left there is copied out for the checks.
TEST_F(Program, FullFileSystemKeepsTheOldOutputAndLeavesNoTemporaryFile) {
  if (!can_mount_privately(dir_)) GTEST_SKIP() << "cannot mount a tmpfs in a private mount namespace";
  for (const auto& [photo, size] : {std::pair{"01-photo-280x360-gopher-plush-baseline444.jpg", " 280x 360"},
                                    std::pair{"08-greyscale-512x512-eiffel-tower.jpg", " 512x 512"}}) {
    SCOPED_TRACE(photo);
    input_from(photo);
    write_file(path("output.jpg"), OLD_OUTPUT);
    std::system(("rm -rf '" + path("full") + "' '" + path("after") + "'").c_str());
    ASSERT_EQ(mkdir(path("full").c_str(), 0755), 0);
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    const size_t bytes = (read_file(DATA + "/" + photo).size() + page - 1) / page * page + 2 * page;
    run_script("mount -t tmpfs -o size=" + std::to_string(bytes) + " tmpfs full || exit 99;"
               " cp input.jpg output.jpg full/ && cd full || exit 98;"
               " \"$0\"; status=$?; cp -a . ../after; exit $status",
               "unshare -m");
    ASSERT_LT(exit_code_, 98) << stderr_;
    EXPECT_EQ(exit_code_, 1);
    expect_four_lines(size);
    EXPECT_NE(stderr_.find("median_bench: output.jpg: cannot write: No space left on device"),
              std::string::npos)
        << stderr_;
    EXPECT_EQ(read_file(path("after/output.jpg")), OLD_OUTPUT);
    EXPECT_EQ(listing("after"), (std::set<std::string>{"input.jpg", "output.jpg"}));
  }
}

// Root writes through any permission bits, so as root the directory is made
// read-only by mounting it over itself, read-only, in a private mount
// namespace; otherwise its permissions take the write bit away.
TEST_F(Program, UnwritableDirectoryKeepsTheOldOutput) {
  input_from("01-photo-280x360-gopher-plush-baseline444.jpg");
  write_file(path("output.jpg"), OLD_OUTPUT);
  if (geteuid() != 0) {
    ASSERT_EQ(chmod(dir_.c_str(), 0555), 0);
    run();
    chmod(dir_.c_str(), 0755);
  } else {
    if (!can_mount_privately(dir_)) GTEST_SKIP() << "root, and cannot mount in a private mount namespace";
    // cd "$PWD" again so that the working directory is the read-only mount.
    run_script("mount --bind \"$PWD\" \"$PWD\" && mount -o remount,bind,ro \"$PWD\" || exit 99;"
               " cd \"$PWD\" && exec \"$0\"",
               "unshare -m");
    ASSERT_NE(exit_code_, 99) << stderr_;
  }
  EXPECT_EQ(exit_code_, 1);
  expect_four_lines(" 280x 360");
  EXPECT_NE(stderr_.find("median_bench: output.jpg: cannot create a temporary file: "), std::string::npos)
      << stderr_;
  EXPECT_EQ(read_file(path("output.jpg")), OLD_OUTPUT);
  EXPECT_EQ(listing(), (std::set<std::string>{"input.jpg", "output.jpg"}));
}

TEST_F(Program, OutputThatIsADirectoryIsReportedAndKept) {
  input_from("01-photo-280x360-gopher-plush-baseline444.jpg");
  ASSERT_EQ(mkdir(path("output.jpg").c_str(), 0755), 0);
  run();
  EXPECT_EQ(exit_code_, 1);
  expect_four_lines(" 280x 360");
  EXPECT_NE(stderr_.find("median_bench: output.jpg: cannot replace the file: Is a directory"),
            std::string::npos)
      << stderr_;
  struct stat st;
  ASSERT_EQ(stat(path("output.jpg").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(listing(), (std::set<std::string>{"input.jpg", "output.jpg"}));
}

// The save, interrupted, leaves the old output and no temporary file,
// whether it writes an unnamed file or, where the file system has none, a
// named one.  The signal comes from the preloaded fault library, while the
// new image is written but not yet in place.
TEST_F(Program, SignalsDuringTheSaveLeaveNothingBehind) {
  input_from("01-photo-280x360-gopher-plush-baseline444.jpg");
  for (const char* unnamed : {"", "MEDIAN_FAULT_NO_TMPFILE=1"}) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
      SCOPED_TRACE(std::string(unnamed) + " signal " + std::to_string(sig));
      write_file(path("output.jpg"), OLD_OUTPUT);
      run(std::string("export LD_PRELOAD=") + FAULT_INJECTION_LIB + " " + unnamed +
          " MEDIAN_FAULT_SIGNAL_AT_FSYNC=" + std::to_string(sig) +
          " ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0;");
      EXPECT_EQ(exit_code_, 128 + sig) << stderr_;
      expect_four_lines(" 280x 360");
      EXPECT_EQ(read_file(path("output.jpg")), OLD_OUTPUT);
      EXPECT_EQ(listing(), (std::set<std::string>{"input.jpg", "output.jpg"}));
    }
  }
}

// A replaced output keeps its mode, owner and group (the owner only as
// root); a new one gets 0666 less the umask.  Both ways of writing.
TEST_F(Program, OutputKeepsItsModeOrFollowsTheUmask) {
  input_from("01-photo-280x360-gopher-plush-baseline444.jpg");
  const uid_t other = 65534;  // nobody
  for (const char* unnamed : {"", "export MEDIAN_FAULT_NO_TMPFILE=1;"}) {
    SCOPED_TRACE(unnamed);
    const std::string faults = std::string("export LD_PRELOAD=") + FAULT_INJECTION_LIB +
                               " ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0; " +
                               unnamed;
    write_file(path("output.jpg"), OLD_OUTPUT);
    ASSERT_EQ(chmod(path("output.jpg").c_str(), 0600), 0);
    if (geteuid() == 0) {
      ASSERT_EQ(chown(path("output.jpg").c_str(), other, other), 0);
    }
    run(faults + "umask 022;");
    EXPECT_EQ(exit_code_, 0) << stderr_;
    struct stat st;
    ASSERT_EQ(stat(path("output.jpg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    if (geteuid() == 0) {
      EXPECT_EQ(st.st_uid, other);
      EXPECT_EQ(st.st_gid, other);
    }

    std::remove(path("output.jpg").c_str());
    run(faults + "umask 027;");
    EXPECT_EQ(exit_code_, 0) << stderr_;
    ASSERT_EQ(stat(path("output.jpg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(listing(), (std::set<std::string>{"input.jpg", "output.jpg"}));
  }
}

// A report that cannot be written is a failure; the output is saved as usual.
TEST_F(Program, LostReportIsAFailure) {
  input_from("01-photo-280x360-gopher-plush-baseline444.jpg");
  run_script("exec \"$0\" > /dev/full");
  EXPECT_EQ(exit_code_, 1);
  EXPECT_EQ(stderr_, "median_bench: standard output: No space left on device\n");
  Rgb8Image output;
  EXPECT_TRUE(decode_rgb(path("output.jpg"), &output));
}

// The test build's copy of the program can be told that the processor lacks
// AVX; it stops before anything else runs.
TEST_F(Program, ProcessorWithoutAvxIsRefusedInOneLine) {
  input_from("01-photo-280x360-gopher-plush-baseline444.jpg");
  write_file(path("output.jpg"), OLD_OUTPUT);
  run_script(std::string("MEDIAN_TEST_WITHOUT_AVX=1 exec ") + MEDIAN_BENCH_HOOKED_EXE);
  EXPECT_EQ(exit_code_, 1);
  EXPECT_EQ(stdout_, "");
  EXPECT_EQ(stderr_, "median_bench: this processor does not support AVX, which the filter needs\n");
  EXPECT_EQ(read_file(path("output.jpg")), OLD_OUTPUT);

  run_script(std::string("exec ") + MEDIAN_BENCH_HOOKED_EXE);
  EXPECT_EQ(exit_code_, 0) << stderr_;
  expect_four_lines(" 280x 360");
}

}  // namespace
