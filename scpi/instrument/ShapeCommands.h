#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "ArbitraryStore.h"
#include "CWaveGeneratorDialog.h"
#include "ParameterReader.h"
#include "ScpiParser.h"

// The instrument's headers beyond shape, frequency and level: the shapes'
// parameters, phase, polarity, bursts, triggers, sweeps, arbitrary
// waveforms, and what it has no hardware for. Every setting goes to the
// dialog as the others do (`change`: refused with its error queued, kept,
// or switched in gaplessly).
class ShapeCommands {
public:
    using Change = std::function<bool(const GeneratorSettings&)>;
    using QueueError = ParameterReader::QueueError;

    // `store` holds the arbitrary waveforms every channel selects from;
    // `synchronize` starts every channel again from its phase.
    ShapeCommands(CWaveGeneratorDialog& dialog, ParameterReader& read, ArbitraryStore& store,
                  Change change, QueueError queue, std::function<bool()> synchronize);

    struct Header {
        std::vector<HeaderNode> pattern;
        bool (ShapeCommands::*set)(const ScpiCommand&);
        bool (ShapeCommands::*ask)(const ScpiCommand&, std::string&);
    };
    // The header that the typed nodes (suffixes taken off) name, or none.
    static const Header* Find(const std::vector<std::string>& names);

    // *TRG and TRIGger[:IMMediate]: a triggered burst or sweep, once.
    bool Trigger();
    // How long the sound the last trigger started lasts, for *OPC? to wait.
    std::chrono::milliseconds TriggeredLength() const { return m_triggeredLength; }
    // The frequency is about to change to `next.frequency`: a pulse that
    // holds its duty cycle takes the width that keeps it.
    void FollowFrequency(GeneratorSettings& next) const;
    // The highest frequency the function plays with its parameters: the
    // pulse's from its width and edges, the square's from its duty cycle.
    double MostFrequency() const;
    void Reset();

private:
    static const std::vector<Header>& Headers();
    bool Edit(const std::function<void(GeneratorSettings&)>& edit);
    bool AskValue(const ScpiCommand& command, std::string& answer, double value,
                  ParameterReader::Limits limits);
    bool AskWord(const ScpiCommand& command, std::string& answer, const std::string& word);
    bool Refuse(const char* reason);

    bool SetSymmetry(const ScpiCommand& command);
    bool AskSymmetry(const ScpiCommand& command, std::string& answer);
    bool SetDutyCycle(const ScpiCommand& command);
    bool AskDutyCycle(const ScpiCommand& command, std::string& answer);
    bool SetPulseWidth(const ScpiCommand& command);
    bool AskPulseWidth(const ScpiCommand& command, std::string& answer);
    bool SetPulsePeriod(const ScpiCommand& command);
    bool AskPulsePeriod(const ScpiCommand& command, std::string& answer);
    bool SetPulseDutyCycle(const ScpiCommand& command);
    bool AskPulseDutyCycle(const ScpiCommand& command, std::string& answer);
    bool SetPulseEdge(const ScpiCommand& command);
    bool AskPulseEdge(const ScpiCommand& command, std::string& answer);
    bool SetPulseHold(const ScpiCommand& command);
    bool AskPulseHold(const ScpiCommand& command, std::string& answer);
    bool SetPolarity(const ScpiCommand& command);
    bool AskPolarity(const ScpiCommand& command, std::string& answer);
    bool SetPhase(const ScpiCommand& command);
    bool AskPhase(const ScpiCommand& command, std::string& answer);
    bool SetAngleUnit(const ScpiCommand& command);
    bool AskAngleUnit(const ScpiCommand& command, std::string& answer);
    bool Synchronize(const ScpiCommand& command);

    bool SetBurstState(const ScpiCommand& command);
    bool AskBurstState(const ScpiCommand& command, std::string& answer);
    bool SetBurstMode(const ScpiCommand& command);
    bool AskBurstMode(const ScpiCommand& command, std::string& answer);
    bool SetBurstCycles(const ScpiCommand& command);
    bool AskBurstCycles(const ScpiCommand& command, std::string& answer);
    bool SetBurstPeriod(const ScpiCommand& command);
    bool AskBurstPeriod(const ScpiCommand& command, std::string& answer);
    bool SetBurstPhase(const ScpiCommand& command);
    bool AskBurstPhase(const ScpiCommand& command, std::string& answer);
    bool SetTriggerSource(const ScpiCommand& command);
    bool AskTriggerSource(const ScpiCommand& command, std::string& answer);
    bool TriggerNow(const ScpiCommand& command);
    bool SetNoOutput(const ScpiCommand& command);
    bool AskOff(const ScpiCommand& command, std::string& answer);

    bool SetSweepState(const ScpiCommand& command);
    bool AskSweepState(const ScpiCommand& command, std::string& answer);
    bool SetSweepTime(const ScpiCommand& command);
    bool AskSweepTime(const ScpiCommand& command, std::string& answer);
    bool SetSweepSpacing(const ScpiCommand& command);
    bool AskSweepSpacing(const ScpiCommand& command, std::string& answer);
    bool SetStart(const ScpiCommand& command);
    bool AskStart(const ScpiCommand& command, std::string& answer);
    bool SetStop(const ScpiCommand& command);
    bool AskStop(const ScpiCommand& command, std::string& answer);
    bool SetCenter(const ScpiCommand& command);
    bool AskCenter(const ScpiCommand& command, std::string& answer);
    bool SetSpan(const ScpiCommand& command);
    bool AskSpan(const ScpiCommand& command, std::string& answer);

    bool SetData(const ScpiCommand& command);
    bool SetDacData(const ScpiCommand& command);
    bool StoreData(const ScpiCommand& command, bool dac);
    bool CopyData(const ScpiCommand& command);
    bool AskCatalog(const ScpiCommand& command, std::string& answer);
    bool ClearVolatile(const ScpiCommand& command);
    bool DeleteData(const ScpiCommand& command);
    bool AskPoints(const ScpiCommand& command, std::string& answer);
    bool SetByteOrder(const ScpiCommand& command);
    bool AskByteOrder(const ScpiCommand& command, std::string& answer);
    bool SelectArbitrary(const ScpiCommand& command);
    bool AskArbitrary(const ScpiCommand& command, std::string& answer);
    bool SetPointRate(const ScpiCommand& command);
    bool AskPointRate(const ScpiCommand& command, std::string& answer);
    bool SetAdvance(const ScpiCommand& command);
    bool AskAdvance(const ScpiCommand& command, std::string& answer);
    bool SetFilter(const ScpiCommand& command);
    bool AskFilter(const ScpiCommand& command, std::string& answer);

    bool Beep(const ScpiCommand& command);
    bool SetBeeper(const ScpiCommand& command);
    bool AskBeeper(const ScpiCommand& command, std::string& answer);
    bool SetDisplayText(const ScpiCommand& command);
    bool AskDisplayText(const ScpiCommand& command, std::string& answer);
    bool ClearDisplayText(const ScpiCommand& command);
    bool SetDisplay(const ScpiCommand& command);
    bool AskDisplay(const ScpiCommand& command, std::string& answer);
    bool SetRemote(const ScpiCommand& command);
    bool AskRemote(const ScpiCommand& command, std::string& answer);

    const ShapeSettings& Shape() const { return m_dialog.m_shape; }
    double Period() const { return 1 / m_dialog.m_frequency; }
    double PulseWidth() const;
    double AngleScale() const;

    CWaveGeneratorDialog& m_dialog;
    ParameterReader& m_read;
    Change m_change;
    QueueError m_queue;
    ArbitraryStore& m_store;
    std::function<bool()> m_synchronize;
    std::string m_selected;  // the arbitrary waveform FUNC ARB plays
    bool m_holdDutyCycle = false;
    bool m_radians = false;
    int m_triggerSource = 0;  // IMMediate, BUS, TIMer
    bool m_swapped = false;   // FORMat:BORDer SWAPped
    bool m_beeper = true;
    bool m_display = true;
    std::string m_displayText;
    int m_remote = 0;  // LOCal, REMote, RWLock
    std::chrono::milliseconds m_triggeredLength{0};
};
