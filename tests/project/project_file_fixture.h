#pragma once
// What a save reads besides the project, held together so that a test can
// save, open into a fresh set and save again.
#include <set>
#include <string>
#include <vector>

#include "dsp/reverb.h"
#include "picture/trace_analysis.h"
#include "project/project.h"
#include "project/project_file_read.h"
#include "project/project_file_write.h"
#include "project/project_settings.h"

namespace korvel::test {

struct SavedProjectState {
    Project project;
    std::string videoPath;
    float videoStartTime = 0.0f;
    std::vector<std::string> libraryPaths;
    std::string description;
    std::int32_t sampleRate = 48000;
    ProjectSessionSettings session;
    TraceAnalysis trace;
    float opticalDetail = 0.35f;
    std::set<std::string> linkedGroups;

    ProjectSaveRequest Request() const {
        ProjectSaveRequest request{
            .project = project,
            .videoPath = videoPath,
            .videoStartTime = videoStartTime,
            .libraryPaths = libraryPaths,
            .projectDescription = description,
            .projectSampleRate = sampleRate,
            .reverb = session.reverb,
            .scenes = project.scenes,
            .traceAnalysis = trace,
            .linkedGroups = linkedGroups,
        };
        request.exportSettings = session.exportSettings;
        request.workAreaIn = session.workAreaIn;
        request.workAreaOut = session.workAreaOut;
        request.opticalDetail = opticalDetail;
        request.masterGain = session.masterGain;
        request.refGain = session.refGain;
        request.groupGain0 = session.groupGain0;
        request.groupGain1 = session.groupGain1;
        request.groupGain2 = session.groupGain2;
        return request;
    }

    bool Save(const std::string& path) const { return WriteProjectFile(path, Request()); }

    // Both reading passes, applied as opening a project applies them.
    ProjectLoadResult Open(const std::string& path) {
        ProjectLoadResult result = ReadProjectFile(path, project);
        if (!result.ok) return result;
        session = ReadProjectSessionSettings(path);
        project.scenes = session.scenes;
        videoPath = result.videoPath;
        videoStartTime = result.videoStartTime;
        libraryPaths = result.libraryPaths;
        description = result.projectDescription;
        sampleRate = result.projectSampleRate;
        trace = result.traceAnalysis;
        opticalDetail = result.opticalDetail;
        linkedGroups = result.linkedGroups;
        return result;
    }
};

}  // namespace korvel::test
