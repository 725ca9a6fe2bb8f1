#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ShapeSettings.h"

// The instrument's arbitrary waveforms, each one period of points from -1
// to 1 under a name, held while the server runs (its volatile memory).
class ArbitraryStore {
public:
    using Points = std::shared_ptr<const std::vector<double>>;
    static constexpr std::size_t kMostWaveforms = 8;
    static constexpr std::size_t kLeastPoints = kLeastArbitraryPoints;
    static constexpr std::size_t kMostPoints = kMostArbitraryPoints;
    static constexpr std::size_t kMostNameLength = 12;
    // A 16-bit code's full scale: -32767 is -1 and 32767 is 1.
    static constexpr int kMostCode = 32767;

    // Stores `values` under `name` (a waveform of that name is replaced):
    // numbers from -1 to 1, or with `dac` integer codes, in ASCII or, as
    // the one value, an IEEE 488.2 block of 32-bit IEEE floats (with `dac`,
    // 16-bit codes), most significant byte first unless `swapped`. Returns 0, or the error and its
    // reason in `detail` (nothing stored).
    int Store(const std::string& name, const std::vector<std::string>& values, bool dac,
              bool swapped, std::string& detail);
    // A waveform by name; empty when there is none.
    Points Find(const std::string& name) const;
    bool Delete(const std::string& name);
    void Clear() { m_waveforms.clear(); }
    // The names, in the order they sort.
    std::vector<std::string> Names() const;

    // A typed name (quoted or not) as it is stored: upper case, a letter
    // then letters, digits or "_", at most kMostNameLength; empty when it
    // is none.
    static std::string NameOf(const std::string& typed);

private:
    int ReadBlock(const std::string& block, bool dac, bool swapped, std::vector<double>& points,
                  std::string& detail) const;

    std::map<std::string, Points> m_waveforms;
};

// The AC RMS of the points' waveform, linear between them (full scale 1).
double ArbitraryRms(const std::vector<double>& points);
