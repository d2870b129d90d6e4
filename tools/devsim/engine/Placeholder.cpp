// Replaced by the simulator engine.
namespace devsim {
int engineVersion() { return 1; }
} // namespace devsim
