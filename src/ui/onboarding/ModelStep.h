// The last step: an optional on-device speech model. Lists the catalogue with the model that
// suits this machine's memory marked, and downloads the chosen model, makes an installed one
// active, or lets the user go on with the cloud service.
#pragma once

#include "ui/onboarding/OnboardingStep.h"

#include "state/WhisperModel.h"
#include "platform/Task.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class ModelRow;
class KestalErrorText;
class QPushButton;

class ModelStep : public OnboardingStep {
    Q_OBJECT
public:
    // Machines with less memory than this are steered to the small model.
    static constexpr std::uint64_t kLargeModelMemory = 16ull * 1024 * 1024 * 1024;
    // How long the local server is given to load a newly chosen model.
    static constexpr double kReadinessTimeout = 90;

    // `physicalMemory`: the machine's installed memory in bytes, which picks the recommendation.
    ModelStep(std::function<void()> done, std::uint64_t physicalMemory, QWidget* parent = nullptr);
    explicit ModelStep(std::function<void()> done, QWidget* parent = nullptr);

    void appear() override;

    static std::string recommendedID(std::uint64_t physicalMemory);
    // The catalogue name of a model id (the id itself when there is none) and its size in MB (0).
    static std::string name(const std::string& id);
    static int size(const std::string& id);

    // Makes the chosen model active, has the engine follow, and finishes at once while the
    // engine loads the model in the background.
    void activateAndFinish();
    // Downloads the chosen model; when it has been installed, it is made active and the step finishes.
    void downloadSelected();

    const std::string& recommended() const { return recommended_; }
    const std::string& selected() const { return selected_; }
    void setSelected(const std::string& id);
    const std::optional<QString>& errorText() const { return errorText_; }

    const std::vector<ModelRow*>& rows() const { return rows_; }

private:
    void activate(const std::string& id);
    platform::Task<> fetch(WhisperModel model);
    void sync();

    std::function<void()> done_;
    std::string recommended_;
    std::string selected_;
    std::optional<QString> errorText_;

    std::vector<ModelRow*> rows_;
    KestalErrorText* errorLabel_;
    QPushButton* use_;
    QPushButton* downloading_;
    QPushButton* download_;
    QPushButton* skip_;
};
