#include "wire_case.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "client_profile.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tessora::test {

namespace {

void AppendUtf8(std::string& out, unsigned long cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;)
    words.push_back(word);
  return words;
}

WireReply ReplyFromArguments(const std::vector<std::string>& arguments) {
  WireReply reply;
  for (const std::string& argument : arguments) {
    if (argument.rfind("split=", 0) == 0) {
      std::istringstream sizes(argument.substr(6));
      for (std::string size; std::getline(sizes, size, ',');)
        reply.split.push_back(std::stoi(size));
    } else if (argument.rfind("end=", 0) == 0) {
      reply.end = argument.substr(4);
    } else {
      throw std::runtime_error("unknown reply argument " + argument);
    }
  }
  return reply;
}

}  // namespace

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n' || c == '\r') continue;  // the file's own line breaks
    if (c != '\\' || i + 1 == text.size()) {
      out += c;
      continue;
    }
    const char e = text[++i];
    switch (e) {
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case '0':
        out += '\0';
        break;
      case '\\':
        out += '\\';
        break;
      case 'x':
        out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
        i += 2;
        break;
      case 'u': {
        const std::size_t close = text.find('}', i);
        AppendUtf8(out, std::stoul(text.substr(i + 2, close - i - 2), nullptr, 16));
        i = close;
        break;
      }
      case '{': {
        const std::size_t star = text.find('*', i);
        const std::size_t close = text.find('}', star);
        const std::size_t count = std::stoul(text.substr(i + 1, star - i - 1));
        const std::string unit = Unescape(text.substr(star + 1, close - star - 1));
        for (std::size_t k = 0; k < count; ++k)
          out += unit;
        i = close;
        break;
      }
      default:
        throw std::runtime_error(std::string("unknown escape \\") + e);
    }
  }
  return out;
}

std::vector<WireCase> LoadWireCases(const std::string& directory) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    if (entry.path().extension() == ".txt") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());

  std::vector<WireCase> cases;
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::string line;
    int lineNumber = 0;
    WireCase* current = nullptr;
    std::string section;
    std::vector<std::string> arguments;
    std::string content;
    const auto finishSection = [&] {
      if (current == nullptr || section.empty()) return;
      if (section == "call") {
        current->method = arguments.at(0);
        current->url = Unescape(arguments.at(1));
      } else if (section == "body") {
        current->body = Unescape(content);
      } else if (section == "setup") {
        std::istringstream lines(content);
        for (std::string setting; std::getline(lines, setting);) {
          if (!setting.empty() && setting[0] != '#') current->setup.push_back(Unescape(setting));
        }
      } else if (section == "proxy-reply") {
        current->proxyReply = ReplyFromArguments(arguments);
        current->proxyReply->bytes = Unescape(content);
      } else if (section == "reply") {
        const std::string bytes = Unescape(content);
        current->reply = ReplyFromArguments(arguments);
        current->reply.bytes = bytes;
      } else if (section == "proxy-request") {
        current->proxyRequest = Unescape(content);
      } else if (section == "request") {
        current->request = Unescape(content);
      } else if (section == "result") {
        current->result = Unescape(content);
      } else if (section == "error") {
        current->error = Unescape(content);
      } else if (section == "incomplete") {
        current->incomplete = Unescape(content);
      } else if (section == "response-text") {
        current->responseText = Unescape(content);
      } else if (section == "events") {
        std::istringstream lines(content);
        current->events.emplace();
        for (std::string event; std::getline(lines, event);) {
          if (!event.empty()) current->events->push_back(event);
        }
      } else {
        throw std::runtime_error(current->where + ": unknown section " + section);
      }
      section.clear();
    };
    while (std::getline(in, line)) {
      ++lineNumber;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.rfind("=== ", 0) == 0) {
        finishSection();
        cases.emplace_back();
        current = &cases.back();
        current->name = line.substr(4);
        current->where = file.filename().string() + ":" + std::to_string(lineNumber);
      } else if (line.rfind("--- ", 0) == 0) {
        finishSection();
        arguments = Words(line.substr(4));
        section = arguments.at(0);
        arguments.erase(arguments.begin());
        content.clear();
      } else if (!section.empty()) {
        content += line;
        content += '\n';
      }
    }
    finishSection();
  }
  return cases;
}

std::string WireCaseName(const ::testing::TestParamInfo<WireCase>& info) {
  std::string name;
  for (const char c : info.param.name) {
    name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  }
  return name;
}

WireOutcome CallWire(HttpClient& client, const WireCase& wire, const std::u16string& url) {
  WireOutcome outcome;
  try {
    if (wire.method == "GET") {
      outcome.result = Get(client, url);
    } else if (wire.method == "DELETE") {
      outcome.result = Delete(client, url);
    } else if (wire.method == "POST") {
      outcome.result = Post(client, url, wire.body);
    } else if (wire.method == "PUT") {
      outcome.result = Put(client, url, wire.body);
    } else {
      ADD_FAILURE() << "unknown method " << wire.method;
    }
  } catch (const Error& error) {
    outcome.failure = error;
  }
  return outcome;
}

void ExpectWireOutcome(const WireCase& wire, const WireOutcome& outcome,
                       const HttpResponse& response) {
  const std::u16string& responseText = response.responseText;
  if (wire.incomplete) {
    EXPECT_EQ(TextToUtf8(response.incomplete), *wire.incomplete);
  } else if (!wire.error) {
    EXPECT_EQ(TextToUtf8(response.incomplete), "") << "an answer said to be incomplete";
  }
  if (wire.error) {
    ASSERT_TRUE(outcome.failure.has_value())
        << "no failure; result: " << TextToUtf8(outcome.result);
    EXPECT_EQ(TextToUtf8(outcome.failure->Message()), *wire.error);
  } else if (outcome.failure) {
    ADD_FAILURE() << "failure: " << outcome.failure->what();
  }
  if (wire.result) {
    EXPECT_EQ(TextToUtf8(outcome.result), *wire.result);
  }
  if (wire.responseText) {
    EXPECT_EQ(TextToUtf8(responseText), *wire.responseText);
  }
}

}  // namespace tessora::test
