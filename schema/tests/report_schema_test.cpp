#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include <google/protobuf/descriptor.h>

#include <gtest/gtest.h>

#include "schema/App.pb.h"
#include "schema/BaseMsg.pb.h"
#include "schema/QlAppPcInstallSource.pb.h"
#include "schema/QlStatAppPcInstall.pb.h"
#include "schema/QlStatPcAppCommonAction.pb.h"
#include "schema/QlStatPcAppCommonActionReport.pb.h"
#include "schema/QlStatPcAppCommonScene.pb.h"
#include "schema/QlVmodeSource.pb.h"

namespace {

namespace pb = com::norvane::tanix::pb;
using google::protobuf::EnumDescriptor;
using google::protobuf::FileDescriptor;

// The installer's code names these constants; a renamed value breaks the build here.
static_assert(pb::native_app == 1);
static_assert(pb::ql_pc_app_scene_intro_install == 1);
static_assert(pb::ql_pc_app_scene_download_failed_package_invalid == 58);
static_assert(pb::ql_pc_app_action_exposure == 1);
static_assert(pb::ql_pc_app_action_click_install == 2);
static_assert(pb::microphone_pop_window_click == 211);
static_assert(pb::ql_pc_install_cource_mac_zp_plugin == 34);

constexpr std::string_view kReportId = "ql_stat_pc_app_common_action_report";

std::string bytes(std::initializer_list<uint8_t> list) {
  return std::string(list.begin(), list.end());
}

std::string serialized(const google::protobuf::Message& message) {
  std::string out;
  EXPECT_TRUE(message.SerializeToString(&out));
  return out;
}

pb::QlStatPcAppCommonActionReport installReport(std::string_view version, uint64_t vid,
                                                std::string_view deviceType) {
  pb::QlStatPcAppCommonActionReport report;
  pb::BaseMsg* header = report.mutable_base_log();
  header->set_id(std::string(kReportId));
  header->set_clienttime(1718877600);
  header->set_appversion(std::string(version));
  header->set_vid(vid);
  header->set_app(pb::native_app);
  report.set_scene(pb::ql_pc_app_scene_intro_install);
  report.set_action(pb::ql_pc_app_action_exposure);
  report.set_action_context("");
  report.set_device_type(std::string(deviceType));
  return report;
}

const std::string kClientTime = bytes({0x10, 0xA0, 0xFB, 0xCF, 0xB3, 0x06});

TEST(ReportSchemaTest, EveryFileIsProto3InTheReportPackage) {
  const FileDescriptor* files[] = {
      pb::App_descriptor()->file(),
      pb::BaseMsg::descriptor()->file(),
      pb::QlAppPcInstallSource_descriptor()->file(),
      pb::QlStatAppPcInstall::descriptor()->file(),
      pb::QlStatPcAppCommonAction_descriptor()->file(),
      pb::QlStatPcAppCommonActionReport::descriptor()->file(),
      pb::QlStatPcAppCommonScene_descriptor()->file(),
      pb::QlVmodeSource_descriptor()->file(),
  };
  for (const FileDescriptor* file : files) {
    SCOPED_TRACE(file->name());
    EXPECT_EQ(file->syntax(), FileDescriptor::SYNTAX_PROTO3);
    EXPECT_EQ(file->package(), "com.norvane.tanix.pb");
    // One type per file, named after the file.
    EXPECT_EQ(file->message_type_count() + file->enum_type_count(), 1);
    const std::string& typeName = file->message_type_count() == 1 ? file->message_type(0)->name()
                                                                  : file->enum_type(0)->name();
    EXPECT_EQ(typeName + ".proto", file->name());
  }
}

TEST(ReportSchemaTest, FullReportHasExactWireBytes) {
  const std::string wire = serialized(installReport("1.2.3(4) beta", 42, "Mac14,2;macOS 14.5.0"));

  const std::string expected = bytes({0x0A, 0x3E, 0x0A, 0x23}) + std::string(kReportId) +
                               kClientTime + bytes({0x1A, 0x0D}) + "1.2.3(4) beta" +
                               bytes({0x20, 0x2A, 0x28, 0x01}) +
                               bytes({0x10, 0x01, 0x18, 0x01, 0x2A, 0x14}) + "Mac14,2;macOS 14.5.0";
  ASSERT_EQ(wire.size(), 90u);
  EXPECT_EQ(wire, expected);
}

TEST(ReportSchemaTest, MinimalReportLeavesZeroFieldsOut) {
  // No version, no user id, no device type: keys 0x1A, 0x20, 0x22 and 0x2A are absent.
  const std::string wire = serialized(installReport("", 0, ""));

  const std::string expected = bytes({0x0A, 0x2D, 0x0A, 0x23}) + std::string(kReportId) +
                               kClientTime + bytes({0x28, 0x01}) + bytes({0x10, 0x01, 0x18, 0x01});
  EXPECT_EQ(wire, expected);
}

TEST(ReportSchemaTest, SettingZeroMakesAScalarAbsentAgain) {
  pb::BaseMsg header;
  header.set_vid(42);
  header.set_vid(0);
  EXPECT_EQ(serialized(header), "");
}

TEST(ReportSchemaTest, HeaderIsWrittenOnlyOnceSet) {
  pb::QlStatPcAppCommonActionReport report;
  EXPECT_EQ(serialized(report), "");

  report.mutable_base_log();
  EXPECT_EQ(serialized(report), bytes({0x0A, 0x00}));
}

TEST(ReportSchemaTest, InstallReportCarriesItsSource) {
  pb::QlStatAppPcInstall report;
  report.set_source(pb::ql_pc_install_source_lumo_website_topbar_revision);
  report.set_bundle_id("b");
  EXPECT_EQ(serialized(report), bytes({0x10, 27, 0x1A, 0x01, 'b'}));
}

TEST(ReportSchemaTest, TextFormPrintsSchemaNames) {
  pb::QlStatPcAppCommonActionReport report;
  report.set_action(pb::microphone_pop_window_click);
  report.set_scene(pb::ql_pc_app_scene_v_mode);
  EXPECT_EQ(report.ShortDebugString(),
            "scene: ql_pc_app_scene_v_mode action: microphone_pop_window_click");
}

struct EnumShape {
  const EnumDescriptor* (*descriptor)();
  bool (*isValid)(int);
  int size;
  std::string_view prefix;
};

void PrintTo(const EnumShape& shape, std::ostream* out) { *out << shape.descriptor()->name(); }

class EnumShapeTest : public testing::TestWithParam<EnumShape> {};

TEST_P(EnumShapeTest, ValuesRunFromZeroWithoutGapsAndShareThePrefix) {
  const EnumShape& shape = GetParam();
  const EnumDescriptor* descriptor = shape.descriptor();
  SCOPED_TRACE(descriptor->name());
  ASSERT_EQ(descriptor->value_count(), shape.size);
  for (int i = 0; i < shape.size; ++i) {
    EXPECT_EQ(descriptor->value(i)->number(), i);
    EXPECT_TRUE(shape.isValid(i));
    const std::string& name = descriptor->value(i)->name();
    if (name != "microphone_pop_window_click" && !name.starts_with("ql_pc_install_cource_")) {
      EXPECT_TRUE(name.starts_with(shape.prefix)) << name;
    }
  }
  EXPECT_FALSE(shape.isValid(shape.size));
  EXPECT_FALSE(shape.isValid(-1));
}

INSTANTIATE_TEST_SUITE_P(
    AllEnums, EnumShapeTest,
    testing::Values(EnumShape{pb::App_descriptor, pb::App_IsValid, 6, ""},
                    EnumShape{pb::QlVmodeSource_descriptor, pb::QlVmodeSource_IsValid, 10,
                              "vmode_source_"},
                    EnumShape{pb::QlStatPcAppCommonScene_descriptor,
                              pb::QlStatPcAppCommonScene_IsValid, 72, "ql_pc_app_scene_"},
                    EnumShape{pb::QlStatPcAppCommonAction_descriptor,
                              pb::QlStatPcAppCommonAction_IsValid, 258, "ql_pc_app_action_"},
                    EnumShape{pb::QlAppPcInstallSource_descriptor, pb::QlAppPcInstallSource_IsValid,
                              35, "ql_pc_install_source_"}));

struct NamedValue {
  const EnumDescriptor* (*descriptor)();
  int number;
  std::string_view name;
};

void PrintTo(const NamedValue& value, std::ostream* out) {
  *out << value.descriptor()->name() << " " << value.number << " " << value.name;
}

class EnumValueTest : public testing::TestWithParam<NamedValue> {};

TEST_P(EnumValueTest, NumberAndSchemaNameMatch) {
  const NamedValue& value = GetParam();
  const EnumDescriptor* descriptor = value.descriptor();
  const auto* byNumber = descriptor->FindValueByNumber(value.number);
  ASSERT_NE(byNumber, nullptr) << value.name;
  EXPECT_EQ(byNumber->name(), value.name);
  const auto* byName = descriptor->FindValueByName(std::string(value.name));
  ASSERT_NE(byName, nullptr) << value.name;
  EXPECT_EQ(byName->number(), value.number);
}

constexpr auto kScene = pb::QlStatPcAppCommonScene_descriptor;
constexpr auto kAction = pb::QlStatPcAppCommonAction_descriptor;
constexpr auto kSource = pb::QlAppPcInstallSource_descriptor;

INSTANTIATE_TEST_SUITE_P(
    Tables, EnumValueTest,
    testing::Values(NamedValue{pb::App_descriptor, 5, "backend"},
                    NamedValue{pb::QlVmodeSource_descriptor, 4, "vmode_source_switch_left_right"},
                    NamedValue{kScene, 15, "ql_pc_app_scene_intro_install_failed_other_reason"},
                    NamedValue{kScene, 16, "ql_pc_app_scene_intro_install_failed_32_bit"},
                    NamedValue{kScene, 37, "ql_pc_app_scene_subpage_default_lanuage"},
                    NamedValue{kScene, 56, "ql_pc_app_scene_download_failed_low_disk_space"},
                    NamedValue{kScene, 57, "ql_pc_app_scene_download_failed_network_error"},
                    NamedValue{kScene, 69, "ql_pc_app_scene_v_mode"},
                    NamedValue{kScene, 71, "ql_pc_app_scene_subpage_multi_device"},
                    NamedValue{kAction, 12, "ql_pc_app_action_close_chinese_switch_english"},
                    NamedValue{kAction, 59, "ql_pc_app_action_click_personalised_keyboard"},
                    NamedValue{kAction, 77, "ql_pc_app_action_pending_motification"},
                    NamedValue{kAction, 97, "ql_pc_app_action_click_connect_multi_devic"},
                    NamedValue{kAction, 113, "ql_pc_app_action_close_always_english_punction"},
                    NamedValue{kAction, 115, "ql_pc_app_action_close_keep_lanuage_type"},
                    NamedValue{kAction, 188, "ql_pc_app_action_click"},
                    NamedValue{kAction, 210, "ql_pc_app_action_microphone_pop_window_expo"},
                    NamedValue{kAction, 211, "microphone_pop_window_click"},
                    NamedValue{kAction, 216,
                               "ql_pc_app_action_trasfer_connected_page_enter_failed"},
                    NamedValue{kAction, 221, "ql_pc_app_action_qr_code_scaned"},
                    NamedValue{kAction, 235, "ql_pc_app_action_click_connect_multi_device"},
                    NamedValue{kAction, 257, "ql_pc_app_action_close_toolbar"},
                    NamedValue{kSource, 17, "ql_pc_install_source_win_nv_pc_manager"},
                    NamedValue{kSource, 27, "ql_pc_install_source_lumo_website_topbar_revision"},
                    NamedValue{kSource, 28, "ql_pc_install_cource_win_huajun"},
                    NamedValue{kSource, 34, "ql_pc_install_cource_mac_zp_plugin"}));

}  // namespace
