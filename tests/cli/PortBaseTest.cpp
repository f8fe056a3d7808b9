// --base: a printer port at any I/O address. The address reaches the port operations as the five
// link addresses base+0 .. base+4, and nothing else is touched.
#include <gtest/gtest.h>

#include <set>

#include "FakeWindow.h"
#include "RecordingBackend.h"
#include "cli/CliOptions.h"
#include "cli/CliProgram.h"
#include "commands/Commands.h"
#include "commands/Core.h"

namespace brevomat::cli {
namespace {

TEST(PortBase, ReachesThePortOperationsAsTheFiveLinkAddresses) {
  for (const auto& [text, base] :
       {std::pair{"0xd010", 0xD010u}, std::pair{"E800", 0xE800u}, std::pair{"0x278", 0x278u}}) {
    const ParseResult parsed = ParseCliOptions({"--base", text, "info"});
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    testing::FakeWindow window;
    testing::RecordingBackend port;
    Core core(window);
    core.port.Attach(&port);
    SelectPort(core, parsed.options);
    EXPECT_EQ(CartInfoCommand(core), kResultFailed);  // nothing answers: "No Adaptor Found!"
    std::set<std::uint32_t> touched;
    for (const testing::PortCall& call : port.calls) touched.insert(call.port);
    EXPECT_EQ(touched, (std::set<std::uint32_t>{base, base + 1, base + 2, base + 3, base + 4})) << text;
    EXPECT_EQ(window.log, (std::vector<std::string>{"No Adaptor Found!"}));
  }
  // What is refused: no address, a port whose registers would run past 0xFFFF, no hex, with --port.
  for (const auto& args : {std::vector<std::string_view>{"--base", "0", "info"},
                           {"--base", "0xfff9", "info"},
                           {"--base", "d01g", "info"},
                           {"--base", "0x12345", "info"},
                           {"--base", "0xd010", "--port", "lpt2", "info"}})
    EXPECT_FALSE(ParseCliOptions(args).ok()) << args[1];
}

}  // namespace
}  // namespace brevomat::cli
