// Feeds events written in the text form of the stream to process_event, through
// the same Event/Packet classes that a stream file yields.
#ifndef KIVO_TESTS_DISPLAY_FEED_H
#define KIVO_TESTS_DISPLAY_FEED_H

#include <string>

// Parses `text` and hands each event to process_event in order; a parse error
// fails the calling test with the parser's message.
void feed(const std::string& text);

#endif
