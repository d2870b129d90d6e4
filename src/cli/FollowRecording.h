#pragma once

class QCommandLineParser;

namespace tarvo::cli {

// Options "record --follow" adds to the record subcommand's parser.
void addFollowOptions(QCommandLineParser& parser);
// "record --follow": every sample written as it arrives to a file or standard output, without the
// recording memory's limit, for ever or for --seconds; a lost device is waited for and followed again.
int runFollowRecording(const QCommandLineParser& parser);

} // namespace tarvo::cli
