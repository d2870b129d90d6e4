#pragma once

namespace devsim {

// How a transmitter's digital filter shapes what it reads, when a device is simulated with its filter
// ("filter=on"): the chosen setting sets a cut-off, the cut-off sets how fast a new load settles and how
// much of the load cell's noise gets through. A second-order low pass: its settling time to 1 % and its
// noise amplitude are known for every setting, so a search for the best setting has one right answer.
struct FilterResponse {
    double cutoffHz = 0;
    double damping = 0.7;   // of the second-order response: 0.7 overshoots a little, 0.95 hardly
    int noiseAmplitude = 0; // counts either side that get through
    int settlingMs = 0;     // a new load is read within 1 % after this time
};

class FilterModel {
public:
    // Noise of a bare load cell passes up to this frequency.
    static constexpr double kRawBandHz = 25.0;

    // The mode/level/rate models: mode 0 IIR or 1 FIR, level 0..8 (0: no filter), update rate 0..7
    // (a slow output rate limits the cut-off). The track-bar models (2110, 2310, 4110, ...): index is
    // the filter index, 3 x step + characteristic on 2310 and 4110 (0 Butterworth, 1 Bessel,
    // 2 Gaussian), the Bessel step on the others. rawAmplitude: the load cell's noise unfiltered.
    static FilterResponse response(int identity, int mode, int levelOrIndex, int rate, int rawAmplitude);
    // Whether the model knows the device's filter as one index rather than mode, level and rate.
    static bool usesFilterIndex(int identity);
    // The highest level or index the model knows for the device.
    static int highestIndex(int identity);
    // The settling time to 1 % of a second-order low pass, from where the load changes (an upper bound:
    // the response's envelope).
    static int settlingMs(double cutoffHz, double damping);
    // What a measurement of the response to a load put on finds: from its 10 % crossing until it stays
    // within bandFraction of the new load.
    static double stepSettlingMs(const FilterResponse& response, double bandFraction);
    // The standard deviation, in counts, of the noise that gets through (the simulated noise averages
    // two uniform draws and is rounded to whole counts).
    static double noiseSigma(const FilterResponse& response);
};

} // namespace devsim
