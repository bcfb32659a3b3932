constexpr Float kPi = 3.14159265358979323846;
constexpr Int32 kPowerSamples = 65536;
constexpr Int32 kPowerSeed = 117641;
constexpr Float kFoot = 0.3048;

// The smallest stored size of one number of a record: a kind byte and a 32-bit float
// (version 4), a kind byte and a 64-bit float (older versions).
constexpr Int64 kMinFloatBytes = 5;
constexpr Int64 kMinFloat64Bytes = 9;

// The arrays of a record being read; freed unless handed over.
struct Tables {
  Float* vertical = nullptr;
  Float* horizontal = nullptr;
  Float* candela = nullptr;
  ~Tables() {
    DeleteMem(vertical);
    DeleteMem(horizontal);
    DeleteMem(candela);
  }
};
