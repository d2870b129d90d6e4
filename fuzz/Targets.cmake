# Every fuzz target, one line each: tarvo_fuzz_target(<name> <entry source> [libraries...]).
# The fuzz preset builds a libFuzzer program for each; the test suite replays fuzz/corpus/<name>/ and
# fuzz/crashes/<name>/ through the same entry. A new target adds its entry source here, its seeds in
# fuzz/corpus/<name>/, its dictionary as fuzz/<name>.dict, and an empty fuzz/crashes/<name>/. The entry is
# TARVO_FUZZ_ENTRY(<name>) (fuzz/FuzzEntry.h) or libFuzzer's own LLVMFuzzerTestOneInput, which the build
# renames to the target's entry; every entry source shares the replay program, so its helpers stay in an
# anonymous namespace and it takes the application object from tarvo::fuzz::ensureApplication().
set(TARVO_FUZZ_TARGETS)
macro(tarvo_fuzz_target name source)
  list(APPEND TARVO_FUZZ_TARGETS ${name})
  set(TARVO_FUZZ_SOURCE_${name} ${CMAKE_CURRENT_LIST_DIR}/${source})
  set(TARVO_FUZZ_LIBS_${name} ${ARGN})
endmacro()

tarvo_fuzz_target(firmware FirmwareLoaderFuzz.cpp)
tarvo_fuzz_target(settings SettingsFuzz.cpp tarvo_devsim_engine)
tarvo_fuzz_target(packet_matcher PacketMatcherFuzz.cpp)
tarvo_fuzz_target(stream StreamFuzz.cpp tarvo_devsim_engine)
tarvo_fuzz_target(canline CanBridgeLineFuzz.cpp)
tarvo_fuzz_target(canframe CanFrameFuzz.cpp)
tarvo_fuzz_target(commandini CommandIniFuzz.cpp)
tarvo_fuzz_target(setupfile SetupFileFuzz.cpp)
tarvo_fuzz_target(kernel KernelFileFuzz.cpp)
tarvo_fuzz_target(settingsimage SettingsImageFuzz.cpp)
tarvo_fuzz_target(datafile DataFileFuzz.cpp)
tarvo_fuzz_target(device_answers DeviceAnswersFuzz.cpp)
