// kivo --list-archive DIR: the runs archived in DIR, one line each with the
// facts its file keeps (run, first and last event, data events, overall
// verdict, kivo version), and below it the verdicts that were Medium or Bad.
#ifndef KIVO_HOST_ARCHIVE_LIST_H
#define KIVO_HOST_ARCHIVE_LIST_H

#include <string>
#include <vector>

#include "ArchiveListing.h"

namespace kivo::host {

// The listing as printed.
std::string archive_table(const std::vector<web::ArchivedRun>& runs);

// Prints the listing of `directory` on standard output; returns the exit
// status: 0, or 2, that of a bad option, with the reason on standard error
// when the directory cannot be read.
int print_archive(const std::string& directory);

}  // namespace kivo::host

#endif
