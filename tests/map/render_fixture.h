// Shared set-up for render-pass tests: fresh render state, the stand-in
// host in game-flow state 6 with a camera, a recording device, and models
// made in memory with given bounds.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "config/options.h"
#include "devices/recording_device.h"
#include "game/host_environment.h"
#include "map/render_pass.h"
#include "memory_models.h"
#include "renderer/draw_model.h"
#include "renderer/model.h"
#include "renderer/render_counters.h"
#include "renderer/render_group.h"
#include "renderer/shading.h"

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Config::Options = Config::OptionsRecord{};
        Config::UnloadCulledModels = true;
        Config::UseHostShaders = false;
        Config::RenderCullMode = 1;
        RenderGroups.clear();
        ModelsDrawn = MeshesDrawn = 0;
        Host::HostEnvironment& host = Host::HostEnvironment::Instance();
        host.SetDevice(&device_);
        host.SetGameFlowState(6);
        host.SetFrameTime(1.0f / 60);
        LookFrom(0, 0, 0, 1, 0, 0);
        const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
        host.SetCameraRecord(identity, identity);
    }
    void TearDown() override
    {
        TestSupport::ReleaseRenderGroups();
        for (TarnRenderer::CModel* model : made_) TarnRenderer::ReleaseReference(model);
        Host::HostEnvironment::Instance().SetDevice(nullptr);
        Config::UseHostShaders = true;
    }

    // Camera at p looking along d (the view matrix's third column).
    void LookFrom(float px, float py, float pz, float dx, float dy, float dz)
    {
        const float position[3] = {px, py, pz};
        float view[16] = {};
        view[2] = dx;
        view[6] = dy;
        view[10] = dz;
        Host::HostEnvironment::Instance().SetCameraPosition(position);
        Host::HostEnvironment::Instance().SetViewMatrix(view);
    }

    // A model with one mesh of geometry and the given bounding sphere.
    TarnRenderer::CModel* MakeModel(float x, float y, float z, float radius, std::uint32_t filter = 2)
    {
        TarnRenderer::CModel* model =
            TestSupport::MakeMemoryModel(std::to_string(++modelsMade_), x, y, z, radius, filter);
        made_.push_back(model);
        return model;
    }
    static TarnRenderer::CMesh* MakeMesh(float x, float y, float z, float radius)
    {
        return TestSupport::MakeMemoryMesh(x, y, z, radius);
    }

    RenderGroup* AddGroup(TarnRenderer::CModel* lod, std::initializer_list<TarnRenderer::CModel*> members)
    {
        auto* group = new RenderGroup;
        group->lod = lod;
        for (TarnRenderer::CModel* model : members) {
            group->members.push_back(new GroupMember{model, "member", "", 2});
            if (model) TakeOver(model);
        }
        if (lod) TakeOver(lod);
        RenderGroups.push_back(group);
        return group;
    }

    // The group now holds the model's reference.
    void TakeOver(TarnRenderer::CModel* model) { made_.erase(std::remove(made_.begin(), made_.end(), model), made_.end()); }

    Host::RecordingDevice device_;
    std::vector<TarnRenderer::CModel*> made_;
    int modelsMade_ = 0;
};
