// Writes a deterministic mail store for the end-to-end benchmark: a tree of
// mailbox folders, some nested. A message is an envelope "From " line,
// headers, a body and an empty line; lines end with CR LF. Three shapes:
//   mbox    each folder holds one or two mail files of 1-200 messages (median
//           ~4.5 KB; one in ~22 carries a base64 attachment of 200-400 KB)
//   single  2,500 mail files a folder, each one message of 0.7-8 KB
//   mix     mbox and single folders in turn (250 single files a folder)
//
//   make_corpus FOLDER [MEGABYTES=200] [mbox|single|mix]
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace {

std::mt19937 random_engine(20261208);

std::size_t Uniform(std::size_t low, std::size_t high) {
  return low + random_engine() % (high - low + 1);
}

void AppendLines(std::size_t bytes, const char* alphabet, std::size_t width, std::string* out) {
  const std::size_t letters = std::char_traits<char>::length(alphabet);
  for (std::size_t written = 0; written < bytes; written += width + 2) {
    for (std::size_t i = 0; i < width; ++i) out->push_back(alphabet[random_engine() % letters]);
    out->append("\r\n");
  }
}

void AppendMessage(unsigned number, bool small, std::string* out) {
  static std::lognormal_distribution<double> text_size(std::log(3800.0), 0.6);
  const std::string sender = "user" + std::to_string(Uniform(1, 500)) + "@example.net";
  const std::string day = std::to_string(Uniform(1, 28));
  *out += "From " + sender + " Mon Nov " + day + " 10:" + std::to_string(Uniform(10, 59)) +
          ":07 2026\r\n";
  *out += "Return-Path: <" + sender + ">\r\n";
  for (std::size_t hop = Uniform(2, 4); hop > 0; --hop) {
    *out += "Received: from relay" + std::to_string(hop) + ".example.net (relay" +
            std::to_string(hop) + ".example.net [192.0.2." + std::to_string(hop) +
            "])\r\n\tby mx.example.org with ESMTP id " + std::to_string(random_engine()) +
            "\r\n\tfor <anna@example.org>; Mon, " + day + " Nov 2026 10:00:00 +0100\r\n";
  }
  *out += "Date: Mon, " + day + " Nov 2026 10:00:00 +0100\r\nFrom: <" + sender +
          ">\r\nTo: <anna@example.org>\r\nSubject: Message " + std::to_string(number) +
          "\r\nMessage-ID: <" + std::to_string(number) + "." + std::to_string(random_engine()) +
          "@example.net>\r\nMIME-Version: 1.0\r\n";
  const bool attachment = !small && random_engine() % 22 == 0;
  const std::size_t text =
      small ? Uniform(0, 7000) : static_cast<std::size_t>(text_size(random_engine));
  const char* words = "abcdefghijklmnopqrstuvwxyz     ,.";
  if (!attachment) {
    *out += "Content-Type: text/plain; charset=us-ascii\r\n\r\n";
    AppendLines(text, words, 72, out);
  } else {
    *out +=
        "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n--b1\r\n"
        "Content-Type: text/plain; charset=us-ascii\r\n\r\n";
    AppendLines(text / 4, words, 72, out);
    *out +=
        "--b1\r\nContent-Type: application/octet-stream\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n";
    AppendLines(Uniform(200'000, 400'000),
                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/", 76, out);
    *out += "--b1--\r\n";
  }
  *out += "\r\n";
}

int WriteFile(const std::string& path, const std::string& text) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr || std::fwrite(text.data(), 1, text.size(), out) != text.size() ||
      std::fclose(out) != 0) {
    std::perror(path.c_str());
    return 1;
  }
  return 0;
}

// The single-file cases: the whole file is one message.
int WriteSingle(const std::string& mode, const std::string& path, std::size_t bytes) {
  std::string text;
  text.reserve(bytes + 200);
  if (mode == "--triggers") {
    while (text.size() < bytes) {
      text += "Received: from relay.example.net by mx.example.org; Mon, 7 Dec 2026 10:00:00\r\n";
      text += "X-Filler: abcdefgh\r\n";
    }
  } else {
    text +=
        "From user@example.net Mon Nov  2 10:00:07 2026\r\nReceived: from relay\r\n"
        "Subject: huge\r\n\r\n";
    AppendLines(bytes, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/", 76,
                &text);
  }
  return WriteFile(path, text);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && argv[1][0] == '-') {
    return WriteSingle(argv[1], argv[2], static_cast<std::size_t>(std::atof(argv[3]) * 1e6));
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_corpus FOLDER [MEGABYTES=200] [mbox|single|mix]\n");
    return 2;
  }
  const std::string root = argv[1];
  const auto target = static_cast<std::size_t>((argc > 2 ? std::atof(argv[2]) : 200.0) * 1e6);
  const std::string shape = argc > 3 ? argv[3] : "mbox";
  if (shape != "mbox" && shape != "single" && shape != "mix") {
    std::fprintf(stderr, "make_corpus: unknown shape %s\n", shape.c_str());
    return 2;
  }
  mkdir(root.c_str(), 0777);
  std::size_t total = 0;
  unsigned messages = 0, files = 0, folders = 0;
  std::string parent;
  for (unsigned folder = 0; total < target; ++folder) {
    // Every fourth mailbox is nested in the one before it.
    const std::string name = "mailbox" + std::to_string(folder);
    std::string path = folder % 4 == 3 && !parent.empty() ? parent + "/" + name : root + "/" + name;
    if (folder % 4 != 3) parent = path;
    mkdir(path.c_str(), 0777);
    ++folders;
    const bool single = shape == "single" || (shape == "mix" && folder % 2 == 1);
    if (single) {
      for (unsigned file = shape == "single" ? 2500 : 250; file > 0 && total < target; --file) {
        std::string text;
        AppendMessage(++messages, true, &text);
        const std::string file_path = path + "/msg" + std::to_string(messages) + ".msg";
        if (WriteFile(file_path, text) != 0) return 1;
        total += text.size();
        ++files;
      }
      continue;
    }
    for (std::size_t file = Uniform(1, 2); file > 0 && total < target; --file) {
      // 1-200 messages, spread evenly over the logarithm.
      const auto count = static_cast<unsigned>(
          std::exp(std::log(200.0) * static_cast<double>(random_engine() % 1000) / 1000.0));
      std::string text;
      for (unsigned i = 0; i < count; ++i) AppendMessage(++messages, false, &text);
      const std::string file_path = path + "/mail" + std::to_string(file) + ".msg";
      if (WriteFile(file_path, text) != 0) return 1;
      total += text.size();
      ++files;
    }
  }
  std::printf("%u folders, %u files, %u messages, %zu bytes\n", folders, files, messages, total);
  return 0;
}
