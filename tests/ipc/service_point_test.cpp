// The service point on its own: the stub table, and a channel that could
// not be built.
#include <gtest/gtest.h>

#include "ipc/channel_identity.h"
#include "ipc/channel_names.h"
#include "ipc/guid_win32.h"
#include "ipc/procedure_calls.h"
#include "system/unique_handle.h"

namespace Core_IPC {
namespace {

class Quiet_Stub final : public Local_Procedure_Stub {
 public:
  bool dispatch(uint32_t, const Argument_List&, std::unique_ptr<Respond_Data>) override {
    return true;
  }
};

TEST(ServicePoint, ATakenInterfaceIdKeepsTheFirstStubAndRemovalKeepsOrder) {
  set_own_endpoint_id(create_guid());
  ASSERT_TRUE(service_point().valid());
  Quiet_Stub a, b, c;
  register_stub(&a, 1);
  register_stub(&b, 2);
  register_stub(&c, 3);
  using Table = std::vector<std::pair<uint32_t, Local_Procedure_Stub*>>;
  {
    Quiet_Stub late;
    register_stub(&late, 2);
    EXPECT_EQ(late.interface_id(), 2u);
    EXPECT_EQ(service_point().registered(), (Table{{1, &a}, {2, &b}, {3, &c}}));
  }
  // The refused stub's end does not take the first one's entry.
  EXPECT_EQ(service_point().registered(), (Table{{1, &a}, {2, &b}, {3, &c}}));
  unregister_stub(&b);
  EXPECT_EQ(service_point().registered(), (Table{{1, &a}, {3, &c}}));
  IPC_Service_Point::shut_down();
}

TEST(ServicePoint, ACallFailsAtOnceWithStatusOneWhenTheChannelCouldNotBeBuilt) {
  // An event under the mapping's name keeps the mapping from being made.
  Core_Common::Unique_Handle squatter(::CreateEventW(nullptr, TRUE, FALSE, kMappingName));
  ASSERT_TRUE(squatter);
  set_own_endpoint_id(create_guid());
  ASSERT_FALSE(service_point().valid());

  uint32_t status = 0;
  Argument_List results;
  const DWORD start = ::GetTickCount();
  EXPECT_FALSE(call({654, kClientEndpointId}, status, 0, {}));
  EXPECT_EQ(status, 1u);
  status = 0;
  EXPECT_FALSE(call_with_result({654, kClientEndpointId}, status, 0, {}, results));
  EXPECT_EQ(status, 1u);
  EXPECT_LT(::GetTickCount() - start, 100u);

  // Nothing registers on a channel that is not valid.
  Quiet_Stub stub;
  register_stub(&stub, 987);
  EXPECT_TRUE(service_point().registered().empty());
  IPC_Service_Point::shut_down();
}

}  // namespace
}  // namespace Core_IPC
