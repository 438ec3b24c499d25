// The monitor's answers byte for byte, as the workbench sends and reads them.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "monitor_double.h"

namespace trainer {
namespace {

const Bytes kRun = {0x0A, 0x00, 0x0A};
const Bytes kStep = {0x09, 0x00, 0x09};
const Bytes kStop = {0x0B, 0x00, 0x0B};

uint16_t Word(const Bytes& b, size_t i) { return uint16_t(b[i] | b[i + 1] << 8); }

TEST(Frames, ParameterlessCommandsAndUnknownCodes) {
  TMonitor m;
  for (uint8_t code : {0x0B, 0x08, 0x27, 0x28, 0x2A})
    EXPECT_EQ(m.Talk({code, 0x00, code}), (Bytes{code, 0x00, code})) << int(code);
  // No reply: the link notices, unknown codes, a console answer nobody waits for, a frame too
  // short for its command (InPort8 without its port's high byte).
  for (const Bytes& silent :
       {Bytes{0x24, 0, 0x24}, Bytes{0x25, 0, 0x25}, Bytes{0x01, 0, 0x01}, Bytes{0x1B, 0, 0x1B},
        Bytes{0x2B, 0, 0x2B}, Bytes{0x20, 0, 0x41}, Bytes{0x04, 0x00, 0x80}})
    EXPECT_TRUE(m.Talk(silent).empty()) << int(silent[0]);
  EXPECT_FALSE(m.fw.InBridge());
  EXPECT_EQ(m.Talk({0x28, 0x00, 0x28}), (Bytes{0x28, 0x00, 0x28}));
  EXPECT_TRUE(m.fw.InBridge());
  Bytes params = {0x23, 0x0F};
  for (int i = 0; i < 16; ++i) params.push_back(uint8_t(i));
  EXPECT_EQ(m.Talk(params), (Bytes{0x23, 0x00, 0x23}));
  EXPECT_EQ(m.fw.ProtectedModeParams()[7], 0x0F0E);
}

TEST(Frames, IdentifyAnswersTheModelAndAVersion) {
  TMonitor m;
  const Bytes reply = m.Talk({0x07, 0x00, 0x07});
  ASSERT_GT(reply.size(), 2u + 9u);
  EXPECT_EQ(reply[0], 0x07);
  EXPECT_EQ(reply[1] + 3u, reply.size());
  EXPECT_EQ(std::string(reply.begin() + 2, reply.begin() + 11), "Vexa-PRO+");
}

TEST(Frames, AnIncompleteFrameIsDroppedAfterSilence) {
  TMonitor m;
  EXPECT_TRUE(m.Talk({0x0C, 0x05}).empty());
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_EQ(m.Talk(kStop), kStop);
}

TEST(Target, InitTargetReportsTheCpuAndResetsTheLayout) {
  TMonitor m86;
  m86.fw.State().EAX = 0x1234;
  EXPECT_EQ(m86.Talk({0x00, 0x04, 0x16, 0x01, 0x02, 0x02, 0x02}), (Bytes{0x00, 0x00, '1'}));
  const TCPUState& s = m86.fw.State();
  EXPECT_EQ(s.CS, 0x1000);
  EXPECT_EQ(s.DS, 0x2000);
  EXPECT_EQ(s.ES, 0x2000);
  EXPECT_EQ(s.SS, 0x2000);
  EXPECT_EQ(s.ESP, 0x80u);
  EXPECT_EQ(s.EIP, 0u);
  EXPECT_EQ(s.EAX, 0u);

  TFirmwareOptions o386 = FullSpeed();
  o386.cpu386 = true;
  TMonitor m386(o386);
  EXPECT_EQ(m386.Talk({0x00, 0x04, 0x16, 0x01, 0x01, 0x01, 0x01}), (Bytes{0x00, 0x00, '2'}));
  EXPECT_EQ(m386.fw.State().DS, 0x1000);
  EXPECT_EQ(m386.fw.State().SS, 0x1000);
}

TEST(Target, BlockTransfersInTheWorkbenchsFrameSizes) {
  TMonitor m;
  m.fw.State().DS = 0x2000;
  for (uint32_t i = 0; i < 600; ++i) m.fw.Memory().SetByte(0x20000 + 0x100 + i, uint8_t(i * 7));
  Bytes all;
  for (auto [offset, size] : {std::pair{0x100, 252}, {0x1FC, 252}, {0x2F8, 96}}) {
    const Bytes reply = m.Talk({0x0F, 0x02, uint8_t(offset), uint8_t(offset >> 8), uint8_t(size)});
    ASSERT_EQ(reply.size(), size + 2u);
    EXPECT_EQ(reply[0], 0x0F);
    EXPECT_EQ(reply[1], size - 1);
    all.insert(all.end(), reply.begin() + 2, reply.end());
  }
  for (uint32_t i = 0; i < 600; ++i) ASSERT_EQ(all[i], uint8_t(i * 7)) << i;

  // 300 bytes through ES in 128, 128, 44.
  m.fw.State().ES = 0x3000;
  for (auto [offset, size] : {std::pair{0x40, 128}, {0xC0, 128}, {0x140, 44}}) {
    Bytes frame = {0x13, uint8_t(size + 2), uint8_t(offset), uint8_t(offset >> 8), uint8_t(size)};
    for (int i = 0; i < size; ++i) frame.push_back(uint8_t(offset - 0x40 + i + 1));
    EXPECT_EQ(m.Talk(frame), (Bytes{0x13, 0x00, 0x13}));
  }
  for (uint32_t i = 0; i < 300; ++i) ASSERT_EQ(m.fw.Memory().Byte(0x30040 + i), uint8_t(i + 1));

  // The 80386 forms by selector: 1 = FS, 2 = GS; other selectors are not served.
  m.fw.State().FS = 0x4000;
  m.fw.State().GS = 0x5000;
  EXPECT_EQ(m.Talk({0x1E, 0x05, 0x10, 0x00, 0x02, 0x02, 0xAA, 0xBB}), (Bytes{0x1E, 0x00, 0x1E}));
  EXPECT_EQ(m.fw.Memory().Byte(0x50010), 0xAA);
  m.fw.Memory().SetByte(0x40010, 0x5C);
  EXPECT_EQ(m.Talk({0x1D, 0x03, 0x10, 0x00, 0x01, 0x01}), (Bytes{0x1D, 0x00, 0x5C}));
  EXPECT_TRUE(m.Talk({0x1D, 0x03, 0x10, 0x00, 0x01, 0x03}).empty());
}

TEST(Target, RegisterCommands) {
  TMonitor m;
  TCPUState& s = m.fw.State();
  s.EAX = 0xAABB0000;
  EXPECT_EQ(m.Talk({0x15, 0x02, 0x00, 0x34, 0x12}), (Bytes{0x15, 0x00, 0x15}));
  EXPECT_EQ(m.Talk({0x15, 0x02, 0x0C, 0x00, 0x01}), (Bytes{0x15, 0x00, 0x15}));  // IP
  EXPECT_EQ(s.EAX, 0xAABB1234u);
  const Bytes dump = m.Talk({0x14, 0x00, 0x14});
  ASSERT_EQ(dump.size(), 2u + 28u);
  EXPECT_EQ(dump[1], 27);
  EXPECT_EQ(Word(dump, 2), 0x1234);       // AX
  EXPECT_EQ(Word(dump, 2 + 8), 0x0080);   // SP
  EXPECT_EQ(Word(dump, 2 + 22), 0x1000);  // CS
  EXPECT_EQ(Word(dump, 2 + 24), 0x0100);  // IP

  EXPECT_EQ(m.Talk({0x1C, 0x04, 0x08, 0x11, 0x11, 0x22, 0x22}), (Bytes{0x1C, 0x00, 0x1C}));
  EXPECT_EQ(m.Talk({0x1C, 0x04, 0x09, 0x33, 0x33, 0x44, 0x44}), (Bytes{0x1C, 0x00, 0x1C}));
  EXPECT_EQ(m.Talk({0x1C, 0x04, 0x02, 0x78, 0x56, 0x34, 0x12}), (Bytes{0x1C, 0x00, 0x1C}));
  const Bytes dump386 = m.Talk({0x1A, 0x00, 0x1A});
  ASSERT_EQ(dump386.size(), 2u + 56u);
  const uint8_t* d = dump386.data() + 2;
  EXPECT_EQ(d[8] | d[9] << 8 | d[10] << 16 | uint32_t(d[11]) << 24, 0x12345678u);  // ECX
  EXPECT_EQ(Word(dump386, 2 + 32), 0x1111);                                        // DS
  EXPECT_EQ(Word(dump386, 2 + 34), 0x2222);                                        // ES
  EXPECT_EQ(Word(dump386, 2 + 36), 0x3333);                                        // FS
  EXPECT_EQ(Word(dump386, 2 + 38), 0x4444);                                        // GS
  EXPECT_EQ(Word(dump386, 2 + 40), s.SS);
  EXPECT_EQ(Word(dump386, 2 + 44), s.CS);
  EXPECT_EQ(Word(dump386, 2 + 48), 0x0100);  // EIP
}

TEST(Run, StopsAtABreakpointAfterAtLeastOneInstruction) {
  TMonitor m;
  m.Load(0, Bytes(0x200, 0x90));
  EXPECT_EQ(m.Talk({0x06, 0x04, 0x02, 0x10, 0x00, 0x00, 0x01}), (Bytes{0x06, 0x00, 0x06}));
  EXPECT_EQ(m.TalkUntil(kRun, 0x0A), (Bytes{0x0A, 0x00, 0x0A}));
  EXPECT_EQ(m.fw.State().EIP, 0x10u);
  EXPECT_EQ(m.TalkUntil(kRun, 0x0A), (Bytes{0x0A, 0x00, 0x0A}));  // leaves 0010h first
  EXPECT_EQ(m.fw.State().EIP, 0x100u);
  // Bridge mode's NotifyRunning shares the code; it leaves the list alone.
  EXPECT_EQ(m.Talk({0x06, 0x00, 0x06}), (Bytes{0x06, 0x00, 0x06}));
  m.fw.State().EIP = 0;
  EXPECT_EQ(m.TalkUntil(kRun, 0x0A), (Bytes{0x0A, 0x00, 0x0A}));
  EXPECT_EQ(m.fw.State().EIP, 0x10u);
  EXPECT_EQ(m.Talk({0x08, 0x00, 0x08}), (Bytes{0x08, 0x00, 0x08}));
  m.fw.State().EIP = 0;
  m.Load(0x20, {0xB4, 0x4C, 0xCD, 0x21});
  EXPECT_EQ(m.TalkUntil(kRun, 0x0A), (Bytes{0x0A, 0x00, 0x0A}));  // cleared: runs to the end
  EXPECT_EQ(m.fw.State().EIP, 0x22u);
}

TEST(Run, StopProgramEndsARunAndAConsoleWait) {
  TMonitor m;
  m.Load(0, {0xEB, 0xFE});  // JMP $
  EXPECT_EQ(m.Talk(kRun, 20), (Bytes{0x0A, 0x00}));
  EXPECT_TRUE(m.fw.ProgramRunning());
  EXPECT_TRUE(m.Talk(kRun).empty());  // one program at a time
  EXPECT_EQ(m.Talk(kStop), kStop);
  EXPECT_FALSE(m.fw.ProgramRunning());

  m.fw.State().EIP = 0x10;
  m.Load(0x10, {0xB4, 0x01, 0xCD, 0x21});
  EXPECT_EQ(m.Talk(kRun), (Bytes{0x0A, 0x00, 0x21, 0x01, 0x00}));
  EXPECT_EQ(m.Talk(kStop), kStop);
  EXPECT_EQ(m.fw.State().EIP, 0x12u);  // on the INT 21h, which runs again next time
  EXPECT_TRUE(m.Talk({0x20, 0x00, 0x78}).empty());
}

TEST(Console, StepThroughDisplayCharacter) {
  TMonitor m;
  m.Load(0, {0xCD, 0x21, 0x90});
  m.fw.State().EAX = 0x0200;
  m.fw.State().EDX = 0x41;
  EXPECT_EQ(m.Talk(kStep), (Bytes{0x09, 0x00, 0x21, 0x02, 0x41, 0x09, 0x00, 0x09}));
  EXPECT_EQ(m.fw.State().EIP, 2u);
  EXPECT_EQ(m.Talk(kStep), (Bytes{0x09, 0x00, 0x09}));  // header and a lone stop byte
  EXPECT_EQ(m.fw.State().EIP, 3u);
}

TEST(Console, RunPrintsAStringThroughTheDialogue) {
  TMonitor m;
  m.Load(0, {0xB4, 0x09, 0xBA, 0x10, 0x00, 0xCD, 0x21, 0xB4, 0x4C, 0xCD, 0x21});
  m.Load(0x10, {'H', 'i', '$', 'x'});
  EXPECT_EQ(m.Talk(kRun), (Bytes{0x0A, 0x00, 0x21, 0x09, 0x10}));
  EXPECT_TRUE(m.Talk({}).empty());  // waits for the workbench
  EXPECT_EQ(m.TalkUntil({0x21, 0x00, 0x21}, 0x0A), (Bytes{0x21, 0x00, 'H', 'i', '$', 0x0A}));
}

TEST(Console, KeysAndLinesComeBackIntoTheProgram) {
  TMonitor m;
  // Function 1, answered 20 00 K.
  m.Load(0, {0xB4, 0x01, 0xCD, 0x21, 0xB4, 0x4C, 0xCD, 0x21});
  EXPECT_EQ(m.Talk(kRun), (Bytes{0x0A, 0x00, 0x21, 0x01, 0x00}));
  EXPECT_EQ(m.TalkUntil({0x20, 0x00, 0x78}, 0x0A), (Bytes{0x20, 0x00, 0x20, 0x0A}));
  EXPECT_EQ(m.fw.State().EAX & 0xFF, 0x78u);

  // Function 10 into a buffer of capacity 5 at DS:0020.
  m.fw.State().EIP = 0x10;
  m.Load(0x10, {0xB4, 0x0A, 0xBA, 0x20, 0x00, 0xCD, 0x21, 0xB4, 0x4C, 0xCD, 0x21});
  m.Load(0x20, {0x05});
  EXPECT_EQ(m.Talk(kRun), (Bytes{0x0A, 0x00, 0x21, 0x0A, 0x20}));
  EXPECT_EQ(m.TalkUntil({0x22, 0x03, 0x03, 'a', 'b', 'c'}, 0x0A), (Bytes{0x22, 0x00, 0x22, 0x0A}));
  for (auto [i, v] : {std::pair{1, 3}, {2, 'a'}, {3, 'b'}, {4, 'c'}, {5, 0x0D}})
    EXPECT_EQ(m.fw.Memory().Byte(0x10020 + i), v) << i;

  // Function 6 input: a key, then none.
  m.Load(0x30, {0xB4, 0x06, 0xB2, 0xFF, 0xCD, 0x21, 0xB4, 0x4C, 0xCD, 0x21});
  for (auto [answer, al, zf] : {std::tuple{Bytes{0x1F, 0x01, 0x00, 0x6B}, 0x6Bu, false},
                                std::tuple{Bytes{0x1F, 0x01, 0xFF, 0x00}, 0x00u, true}}) {
    m.fw.State().EIP = 0x30;
    m.fw.State().EAX = 0x55;
    EXPECT_EQ(m.Talk(kRun), (Bytes{0x0A, 0x00, 0x21, 0x06, 0xFF}));
    EXPECT_EQ(m.TalkUntil(answer, 0x0A), (Bytes{0x1F, 0x00, 0x1F, 0x0A}));
    EXPECT_EQ(m.fw.State().EAX & 0xFF, al);
    EXPECT_EQ((m.fw.State().EFLAGS & flags::ZF) != 0, zf);
  }
}

TEST(Devices, PortsAreSharedByTheWireAndThePrograms) {
  TMonitor m;
  EXPECT_EQ(m.Talk({0x17, 0x03, 0x00, 0x80, 0xB0, 0xB1}), (Bytes{0x17, 0x00, 0x17}));
  EXPECT_EQ(m.fw.Ports().Dac(), 0xB0);
  EXPECT_EQ(m.Talk({0x16, 0x01, 0x00, 0x80}), (Bytes{0x16, 0x03, 0xB0, 0xB1, 0x00, 0x00}));
  EXPECT_EQ(m.Talk({0x18, 0x01, 0x01, 0x80}), (Bytes{0x18, 0x01, 0xB1, 0x00}));
  EXPECT_EQ(m.Talk({0x04, 0x01, 0x10, 0x03}), (Bytes{0x04, 0x00, 0xFF}));  // never written
  EXPECT_EQ(m.Talk({0x19, 0x03, 0x10, 0x03, 0x34, 0x12}), (Bytes{0x19, 0x00, 0x19}));
  // The program reads port 0310h, adds one and writes port 70h.
  m.Load(0, {0xBA, 0x10, 0x03, 0xEC, 0xFE, 0xC0, 0xE6, 0x70, 0xB4, 0x4C, 0xCD, 0x21});
  EXPECT_EQ(m.TalkUntil(kRun, 0x0A), (Bytes{0x0A, 0x00, 0x0A}));
  EXPECT_EQ(m.Talk({0x04, 0x01, 0x70, 0x00}), (Bytes{0x04, 0x00, 0x35}));
}

TEST(Devices, TheLedsReportEveryChangeOnce) {
  TPortSpace ports;
  std::vector<int> seen;
  ports.OnLedsChanged([&](uint8_t leds) { seen.push_back(leds); });
  ports.Out(TPortSpace::kLedPort, 0x01, 1);
  ports.Out(TPortSpace::kLedPort, 0x01, 1);            // unchanged: no report
  ports.Out(TPortSpace::kLedPort - 1, 0x8000, 2);      // a word OUT whose high byte lands there
  ports.Out(TPortSpace::kLedPort + 1, 0xFFFFFFFF, 4);  // the ports above leave them alone
  EXPECT_EQ(seen, (std::vector<int>{0x01, 0x80}));
}

TEST(Devices, InterruptRequestsGoToThePollOrIntoTheProgram) {
  TMonitor m;
  EXPECT_EQ(m.Talk({0x29, 0x00, 0x29}), (Bytes{0x29, 0x00, 0x00}));
  m.fw.RaiseInterrupt(8);
  m.fw.RaiseInterrupt(8);  // still pending: not queued twice
  EXPECT_EQ(m.Talk({0x29, 0x00, 0x29}), (Bytes{0x29, 0x01, 0x08}));
  EXPECT_EQ(m.Talk({0x29, 0x00, 0x29}), (Bytes{0x29, 0x00, 0x00}));

  // A running program with IF set enters its handler through vector 8.
  for (auto [a, v] : {std::pair{0x20, 0x00}, {0x21, 0x01}, {0x22, 0x00}, {0x23, 0x10}})
    m.fw.Memory().SetByte(a, v);
  m.Load(0, {0xFB, 0xEB, 0xFE});            // STI; JMP $
  m.Load(0x100, {0xB4, 0x4C, 0xCD, 0x21});  // the handler ends the program
  EXPECT_EQ(m.Talk(kRun), (Bytes{0x0A, 0x00}));
  m.fw.RaiseInterrupt(8);
  EXPECT_EQ(m.TalkUntil({}, 0x0A), (Bytes{0x0A}));
  EXPECT_EQ(m.fw.State().EIP, 0x102u);
  EXPECT_EQ(m.fw.Memory().Byte(TMemImage::Linear(m.fw.State().SS, 0x7A)), 0x01);  // return IP
}

TEST(Devices, TheTimerRaisesRequestsOnlyWhileSomethingCanTakeThem) {
  TFirmwareOptions o = FullSpeed();
  o.irqEveryMs = 5;
  o.irqType = 0x0B;
  TMonitor m(o);
  const Bytes poll = {0x29, 0x00, 0x29};
  auto after20ms = [&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return m.Talk(poll, 1);
  };
  EXPECT_EQ(after20ms(), (Bytes{0x29, 0x00, 0x00}));  // nobody runs
  m.Talk({0x28, 0x00, 0x28, 0x06, 0x00, 0x06});       // EnterBridge, NotifyRunning
  EXPECT_EQ(after20ms(), (Bytes{0x29, 0x01, 0x0B}));
  m.Talk({0x08, 0x00, 0x08, 0x29, 0x00, 0x29});  // NotifyIdle; takes what was raised before
  EXPECT_EQ(after20ms(), (Bytes{0x29, 0x00, 0x00}));
}

TEST(Devices, SampleStreamFollowsTheDacOrAWaveform) {
  TMonitor dac;
  dac.Talk({0x05, 0x02, 0x00, 0x80, 0x5A});
  dac.Talk({0x26, 0x00, 0x26});
  EXPECT_TRUE(dac.fw.Sampling());
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const Bytes samples = dac.Talk({}, 1);
  EXPECT_GE(samples.size(), 10u);
  EXPECT_TRUE(std::all_of(samples.begin(), samples.end(), [](uint8_t b) { return b == 0x5A; }));
  const Bytes stop = dac.Talk({0x27, 0x00, 0x27}, 1);
  ASSERT_GE(stop.size(), 3u);
  EXPECT_EQ(Bytes(stop.end() - 3, stop.end()), (Bytes{0x27, 0x00, 0x27}));
  EXPECT_FALSE(dac.fw.Sampling());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(dac.Talk({}).empty());

  TFirmwareOptions o = FullSpeed();
  o.wave = TWave::Square;
  o.waveHz = 50;  // 20 samples per cycle at 1000 samples per second
  TMonitor square(o);
  Bytes wave = square.Talk({0x26, 0x00, 0x26}, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  const Bytes more = square.Talk({}, 1);
  wave.insert(wave.end(), more.begin(), more.end());
  ASSERT_GE(wave.size(), 21u);
  for (size_t i = 0; i < 20; ++i) EXPECT_EQ(wave[i], i < 10 ? 0xFF : 0x00) << i;
}

}  // namespace
}  // namespace trainer
