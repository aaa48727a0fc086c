#include "app/usage.hpp"

#include "app/command_line.hpp"
#include "app/messages.hpp"
#include "app/print_message.hpp"

namespace ft232h {

void PrintUsage(Console& console) {
    PrintMessage(console, messages::kUsageOptions);
    PrintMessage(console, messages::kUsageInit);
    PrintMessage(console, messages::kUsageCheck);
    PrintMessage(console, messages::kUsageSet);
    PrintMessage(console, messages::kUsageErase);
    PrintMessage(console, messages::kUsageRead);
    PrintMessage(console, messages::kUsageReadFile, {kDumpFilePrefix});
    PrintMessage(console, messages::kUsageWrite);
    PrintMessage(console, messages::kUsageWriteFile, {kWriteFilePrefix});
}

}  // namespace ft232h
