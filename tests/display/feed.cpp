#include "feed.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "EventRecord.h"
#include "TextFormat.h"
#include "monitor_plugin.h"

void feed(const std::string& text) {
  std::istringstream in(text);
  std::vector<kivo::eventio::EventRecord> records;
  std::string error;
  ASSERT_TRUE(kivo::eventio::parse_text(in, records, error)) << error;
  for (const auto& record : records) process_event(kivo::eventio::make_event(record).get());
}
