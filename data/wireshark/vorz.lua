-- Wireshark dissector for the VOR-Z module protocol, as Varnix speaks it.
--
--   LAN (UDP, ports 1500 for Z2 modules and 1901 for Z3 modules): the search request and reply,
--   addressed commands (code, MAC, log-in, checksum) and the parameter blocks they carry, the
--   module's read replies (recognised by their length), acknowledgements and the checksum-error
--   reply. The firmware upgrade request (30 bytes to port 9) too; the rest of an upgrade is
--   BOOTP and TFTP, which Wireshark knows already.
--   Serial (the configuration link of a module whose CFG pin is grounded): Varnix captures write
--   each chunk as an Exported PDU record naming this dissector ("vorz"), with its direction.
--
-- Settings fields carry the names `varnix-cli fields` uses (vorz.StaticIP, vorz.BaudRate, ...);
-- fields of the protocol's own structure are in lower case (vorz.code, vorz.mac, vorz.checksum).
--
-- Use: tshark -X lua_script:data/wireshark/vorz.lua -r capture.pcapng -V
-- The varnix package installs it in Wireshark's global Lua plugin folder (tshark -G folders).
--
-- Written for the Lua of every Wireshark in use (5.2 up to 5.4): plain arithmetic only, no bit32
-- library and no bit operators; bit fields are left to Wireshark's field masks.

local vorz = Proto("vorz", "VOR-Z module protocol")

local PORT_Z2, PORT_Z3, PORT_UPGRADE = 1500, 1901, 9
local FAMILY_UNKNOWN, FAMILY_Z2, FAMILY_Z1, FAMILY_Z3 = 0, 2, 35, 36
local NEW_FIRMWARE_MIN = 2002

-- ---------------------------------------------------------------------------------------------
-- Value names

local command_names = {
    [0x01] = "search", [0x02] = "restart", [0x03] = "read command", [0x04] = "end of Z3 save",
    [0x05] = "write base block", [0x06] = "write port block", [0x0B] = "restore factory settings",
    [0x0C] = "write cloud block", [0x21] = "write heartbeat block", [0x22] = "write HTTPD URL block",
    [0x23] = "write HTTPD header block", [0x24] = "write Modbus block",
}
-- Payload size each command carries (Modbus: 1 or 7, checked on its own).
local command_payload = {
    [0x02] = 0, [0x03] = 0, [0x04] = 0, [0x05] = 67, [0x06] = 63, [0x0B] = 0,
    [0x0C] = 50, [0x21] = 85, [0x22] = 101, [0x23] = 201,
}
local family_names = { [0] = "unknown", [2] = "Z2", [35] = "Z1", [36] = "Z3" }
local ack_names = {
    [0x4B] = "K, command executed", [0x50] = "P, user name or password wrong", [0x45] = "E, other error",
}
local checksum_status_names = { [0] = "Bad", [1] = "Good" }
local addr_type_names = { [0] = "DHCP", [1] = "Static" }
local heart_target_names = { [0] = "server", [1] = "serial terminal" }
local reg_send_mode_names = { [0] = "once on connect", [1] = "before every packet" }
local id_type_names = { [0] = "None", [1] = "On connect", [2] = "With data", [3] = "Both" }
local parity_names = { [1] = "NONE", [2] = "ODD", [3] = "EVEN", [4] = "MARK", [5] = "SPACE" }
local flow_names = { [1] = "None", [3] = "Hardware", [5] = "RS485" }
local work_mode_names = {
    [0] = "UDP Client", [1] = "TCP Client", [2] = "UDP Server", [3] = "TCP Server", [4] = "HTTPD Client",
}
local z1_work_mode_names = { [0] = "UDP Mode", [1] = "TCP Client", [2] = "UDP Server", [3] = "TCP Server" }
local modbus_tcp_names = { [0] = "None", [1] = "ModbusTCP" }
local register_type_names = { [0] = "None", [1] = "MAC", [2] = "Custom", [3] = "Cloud" }
local tcp_style_names = {
    [1] = "Transparent", [2] = "By ID, drop without ID", [3] = "By ID, broadcast without ID",
}
local httpd_method_names = { [0] = "GET", [1] = "POST" }
local heartbeat_type_names = { [0] = "None", [1] = "Serial", [2] = "Network" }
local serial_code_names = {
    [0xBC] = "read Z1/Z3", [0xBD] = "read Z2", [0xBA] = "Z1 write", [0xBE] = "Z2 base",
    [0xBF] = "Z2 port", [0xB1] = "Z2 close", [0xC1] = "read Z2 cloud and heartbeat",
}

-- ---------------------------------------------------------------------------------------------
-- Fields

local f = {}
local function field(name, pf) f[name] = pf end

-- Structure of the messages.
field("kind", ProtoField.string("vorz.kind", "Message"))
field("family", ProtoField.uint8("vorz.family", "Family", base.DEC, family_names))
field("start", ProtoField.uint8("vorz.start", "Start", base.HEX))
field("length", ProtoField.uint8("vorz.length", "Length byte", base.DEC))
field("code", ProtoField.uint8("vorz.code", "Command code", base.HEX, command_names))
field("mac", ProtoField.ether("vorz.mac", "MAC"))
field("login_user", ProtoField.string("vorz.login.user", "Log-in user name"))
field("login_password", ProtoField.string("vorz.login.password", "Log-in password"))
field("payload", ProtoField.bytes("vorz.payload", "Payload"))
field("checksum", ProtoField.uint8("vorz.checksum", "Checksum", base.HEX))
field("checksum_computed", ProtoField.uint8("vorz.checksum.computed", "Computed checksum", base.HEX))
field("checksum_status", ProtoField.uint8("vorz.checksum.status", "Checksum status", base.DEC,
    checksum_status_names))
field("ip", ProtoField.ipv4("vorz.ip", "Module IP"))
field("firmware", ProtoField.uint16("vorz.firmware", "Firmware", base.DEC))
field("name", ProtoField.string("vorz.name", "Module name"))
field("unused", ProtoField.bytes("vorz.unused", "Not interpreted"))
field("ack_code", ProtoField.uint8("vorz.ack.code", "Acknowledged code (not examined)", base.HEX,
    command_names))
field("ack_status", ProtoField.uint8("vorz.ack.status", "Status", base.HEX, ack_names))
field("check_error_expected", ProtoField.uint8("vorz.checksum_error.expected", "Checksum the module expected",
    base.HEX))
field("modbus_kind", ProtoField.uint8("vorz.modbus.kind", "Modbus block kind", base.DEC))
field("upgrade_marker", ProtoField.bytes("vorz.upgrade.marker", "Upgrade marker"))
field("upgrade_mac_copy", ProtoField.ether("vorz.upgrade.mac_copy", "MAC copy"))
field("serial_head", ProtoField.uint8("vorz.serial.head", "Frame head", base.HEX))
field("serial_code", ProtoField.uint8("vorz.serial.code", "Frame code", base.HEX, serial_code_names))
field("serial_ack", ProtoField.uint8("vorz.serial.ack", "Acknowledgement", base.HEX, { [0x4B] = "K" }))

-- Base block (67 bytes).
field("status", ProtoField.uint8("vorz.status", "Status byte", base.HEX))
field("HeartTarget", ProtoField.uint8("vorz.HeartTarget", "HeartTarget", base.DEC, heart_target_names, 0x01))
field("StatusBit1", ProtoField.uint8("vorz.StatusBit1", "StatusBit1", base.DEC, nil, 0x02))
field("RegSendMode", ProtoField.uint8("vorz.RegSendMode", "RegSendMode", base.DEC, reg_send_mode_names, 0x04))
field("ClearBuffer", ProtoField.bool("vorz.ClearBuffer", "ClearBuffer", 8, nil, 0x10))
field("ShortConnEnable", ProtoField.bool("vorz.ShortConnEnable", "ShortConnEnable", 8, nil, 0x20))
field("AddrType", ProtoField.uint8("vorz.AddrType", "AddrType", base.DEC, addr_type_names, 0x80))
field("LocationURLPort", ProtoField.uint16("vorz.LocationURLPort", "LocationURLPort", base.DEC))
field("HTTPServerPort", ProtoField.uint16("vorz.HTTPServerPort", "HTTPServerPort", base.DEC))
field("StaticIP", ProtoField.ipv4("vorz.StaticIP", "StaticIP"))
field("GatewayIP", ProtoField.ipv4("vorz.GatewayIP", "GatewayIP"))
field("SubnetMask", ProtoField.ipv4("vorz.SubnetMask", "SubnetMask"))
field("ModName", ProtoField.string("vorz.ModName", "ModName"))
field("UserName", ProtoField.string("vorz.UserName", "UserName"))
field("Password", ProtoField.string("vorz.Password", "Password"))
field("OptionFlags", ProtoField.uint8("vorz.OptionFlags", "OptionFlags", base.HEX))
field("OptionReset", ProtoField.bool("vorz.OptionReset", "OptionReset", 8, nil, 0x10))
field("OptionLink", ProtoField.bool("vorz.OptionLink", "OptionLink", 8, nil, 0x20))
field("OptionIndex", ProtoField.bool("vorz.OptionIndex", "OptionIndex", 8, nil, 0x40))
field("OptionRFC2217", ProtoField.bool("vorz.OptionRFC2217", "OptionRFC2217", 8, nil, 0x80))
field("IdType", ProtoField.uint8("vorz.IdType", "IdType", base.DEC, id_type_names))
field("UserMAC", ProtoField.ether("vorz.UserMAC", "UserMAC"))
field("Dns", ProtoField.ipv4("vorz.Dns", "Dns"))
field("ShortConnTime", ProtoField.uint8("vorz.ShortConnTime", "ShortConnTime", base.DEC))

-- Port block (63 bytes).
field("BaudRate", ProtoField.uint32("vorz.BaudRate", "BaudRate", base.DEC))
field("DataBits", ProtoField.uint8("vorz.DataBits", "DataBits", base.DEC))
field("Parity", ProtoField.uint8("vorz.Parity", "Parity", base.DEC, parity_names))
field("StopBits", ProtoField.uint8("vorz.StopBits", "StopBits", base.DEC))
field("FlowControl", ProtoField.uint8("vorz.FlowControl", "FlowControl", base.DEC, flow_names))
field("LocalPort", ProtoField.uint16("vorz.LocalPort", "LocalPort", base.DEC))
field("RemotePort", ProtoField.uint16("vorz.RemotePort", "RemotePort", base.DEC))
field("RemoteIP", ProtoField.string("vorz.RemoteIP", "RemoteIP"))
field("socket_flags", ProtoField.uint8("vorz.socket_flags", "Socket flags", base.HEX))
field("ModbusTCP", ProtoField.uint8("vorz.ModbusTCP", "ModbusTCP", base.DEC, modbus_tcp_names, 0x04))
field("BaudSync", ProtoField.bool("vorz.BaudSync", "BaudSync", 8, nil, 0x08))
field("CloudEnable", ProtoField.uint8("vorz.CloudEnable", "CloudEnable", base.DEC, nil, 0x10))
field("KickOldConn", ProtoField.bool("vorz.KickOldConn", "KickOldConn", 8, nil, 0x20))
field("MacRegister", ProtoField.bool("vorz.MacRegister", "MacRegister", 8, nil, 0x40))
field("WorkMode", ProtoField.uint8("vorz.WorkMode", "WorkMode", base.DEC, work_mode_names))
field("HttpdMethod", ProtoField.uint8("vorz.HttpdMethod", "HttpdMethod", base.DEC, httpd_method_names))
field("TCPSvrCount", ProtoField.uint8("vorz.TCPSvrCount", "TCPSvrCount", base.DEC))
field("RestartTimeout", ProtoField.uint16("vorz.RestartTimeout", "RestartTimeout", base.DEC))
field("CustomRegister", ProtoField.bool("vorz.CustomRegister", "CustomRegister"))
field("RegisterType", ProtoField.uint8("vorz.RegisterType", "RegisterType", base.DEC, register_type_names))
field("TCPStyle", ProtoField.uint8("vorz.TCPStyle", "TCPStyle", base.DEC, tcp_style_names, 0x0F))
field("UARTLength", ProtoField.uint32("vorz.UARTLength", "UARTLength", base.DEC))

-- Cloud block (50 bytes).
field("DeviceNo", ProtoField.string("vorz.DeviceNo", "DeviceNo"))
field("CommPassword", ProtoField.string("vorz.CommPassword", "CommPassword"))

-- Heartbeat and registration block (85 bytes).
field("heart_flags", ProtoField.uint8("vorz.heart.flags", "Heartbeat flags", base.HEX))
field("heart_net", ProtoField.bool("vorz.heart.net", "Network heartbeat", 8, nil, 0x01))
field("heart_serial", ProtoField.bool("vorz.heart.serial", "Serial heartbeat", 8, nil, 0x02))
field("RegisterOnConnect", ProtoField.bool("vorz.RegisterOnConnect", "RegisterOnConnect", 8, nil, 0x04))
field("RegisterWithData", ProtoField.bool("vorz.RegisterWithData", "RegisterWithData", 8, nil, 0x08))
field("RemoveHttpdHeader", ProtoField.bool("vorz.RemoveHttpdHeader", "RemoveHttpdHeader", 8, nil, 0x10))
field("SerialSetParams", ProtoField.bool("vorz.SerialSetParams", "SerialSetParams", 8, nil, 0x20))
field("HeartbeatHex", ProtoField.bool("vorz.HeartbeatHex", "HeartbeatHex", 8, nil, 0x40))
field("RegisterHex", ProtoField.bool("vorz.RegisterHex", "RegisterHex", 8, nil, 0x80))
field("HeartbeatType", ProtoField.uint8("vorz.HeartbeatType", "HeartbeatType", base.DEC, heartbeat_type_names))
field("HeartbeatInterval", ProtoField.uint16("vorz.HeartbeatInterval", "HeartbeatInterval", base.DEC))
field("heart_length", ProtoField.uint8("vorz.heart.data_length", "Heartbeat data length", base.DEC))
field("reg_length", ProtoField.uint8("vorz.heart.register_length", "Registration data length", base.DEC))
field("HeartbeatData", ProtoField.bytes("vorz.HeartbeatData", "HeartbeatData"))
field("RegisterData", ProtoField.bytes("vorz.RegisterData", "RegisterData"))

-- HTTPD blocks (101 and 201 bytes).
field("url_length", ProtoField.uint8("vorz.httpd.url_length", "URL length", base.DEC))
field("HttpdURL", ProtoField.string("vorz.HttpdURL", "HttpdURL"))
field("header_length", ProtoField.uint8("vorz.httpd.header_length", "Header length", base.DEC))
field("HttpdHeader", ProtoField.string("vorz.HttpdHeader", "HttpdHeader"))

-- Modbus block (1, 4 or 7 bytes; a 64-byte reply carries 7).
field("ModbusTCPEnable", ProtoField.bool("vorz.ModbusTCPEnable", "ModbusTCPEnable"))
field("ModbusPoll", ProtoField.bool("vorz.ModbusPoll", "ModbusPoll"))
field("ModbusPollTimeout", ProtoField.uint16("vorz.ModbusPollTimeout", "ModbusPollTimeout", base.DEC))
field("ModbusAbnormalResponse", ProtoField.bool("vorz.ModbusAbnormalResponse", "ModbusAbnormalResponse"))
field("ModbusPollInterval", ProtoField.uint16("vorz.ModbusPollInterval", "ModbusPollInterval", base.DEC))

-- Z1 parameter body (28 bytes, serial link).
field("z1_format", ProtoField.uint8("vorz.z1.format", "Serial format byte", base.HEX))
field("DeviceID", ProtoField.uint16("vorz.DeviceID", "DeviceID", base.DEC))
field("z1_options", ProtoField.uint8("vorz.z1.options", "Option byte", base.HEX))
field("ConnSendId", ProtoField.bool("vorz.ConnSendId", "ConnSendId", 8, nil, 0x01))
field("DataWithId", ProtoField.bool("vorz.DataWithId", "DataWithId", 8, nil, 0x02))
field("RS485", ProtoField.bool("vorz.RS485", "RS485", 8, nil, 0x04))
field("RS422", ProtoField.bool("vorz.RS422", "RS422", 8, nil, 0x08))

local field_list = {}
for _, pf in pairs(f) do field_list[#field_list + 1] = pf end
vorz.fields = field_list

local e = {
    checksum = ProtoExpert.new("vorz.checksum.bad", "Wrong checksum", expert.group.CHECKSUM,
        expert.severity.ERROR),
    length = ProtoExpert.new("vorz.length.bad", "Wrong length", expert.group.MALFORMED, expert.severity.ERROR),
    ignored = ProtoExpert.new("vorz.ignored", "Ignored by Varnix", expert.group.PROTOCOL, expert.severity.NOTE),
    incompatible = ProtoExpert.new("vorz.incompatible", "Incompatible module", expert.group.PROTOCOL,
        expert.severity.WARN),
    refused = ProtoExpert.new("vorz.refused", "The module refused the command", expert.group.RESPONSE_CODE,
        expert.severity.WARN),
    masked = ProtoExpert.new("vorz.masked", "Log-in password masked in this capture", expert.group.COMMENTS_GROUP,
        expert.severity.NOTE),
    mac_copies = ProtoExpert.new("vorz.upgrade.mac_copies", "MAC copies differ", expert.group.MALFORMED,
        expert.severity.WARN),
}
vorz.experts = { e.checksum, e.length, e.ignored, e.incompatible, e.refused, e.masked, e.mac_copies }

local udp_srcport = Field.new("udp.srcport")

-- ---------------------------------------------------------------------------------------------
-- Helpers (arithmetic only: no bit operators in Lua 5.2)

local function byte_at(tvb, offset) return tvb(offset, 1):uint() end

local function sum8(tvb, from, to)
    local s = 0
    for i = from, to do s = s + tvb(i, 1):uint() end
    return s % 256
end

local function hex2(v) return string.format("%02X", v) end

local function mac_text(tvb, offset)
    local parts = {}
    for i = 0, 5 do parts[#parts + 1] = hex2(byte_at(tvb, offset + i)) end
    return table.concat(parts, " ")
end

-- The text of a fixed-width field: its bytes up to the first NUL.
local function field_text(tvb, offset, width)
    local s = tvb:raw(offset, width)
    local nul = string.find(s, "\0", 1, true)
    if nul then s = string.sub(s, 1, nul - 1) end
    return s
end

-- A module's text for the Info column: printable ASCII, anything else as '?'.
local function printable(s)
    return (string.gsub(s, "[^\32-\126]", "?"))
end

-- A fixed-width text field, highlighted over the whole field.
local function add_text(tree, pf, tvb, offset, width)
    return tree:add(pf, tvb(offset, width), field_text(tvb, offset, width))
end

-- IPv4 addresses in the blocks are stored last number first.
local function reversed_ip_text(tvb, offset)
    return string.format("%d.%d.%d.%d", byte_at(tvb, offset + 3), byte_at(tvb, offset + 2),
        byte_at(tvb, offset + 1), byte_at(tvb, offset))
end

-- A generated (computed) item: not a byte range of its own.
local function add_generated(tree, pf, tvb, offset, width, value)
    local item = tree:add(pf, tvb(offset, width), value)
    item:set_generated()
    return item
end

-- The checksum byte at `at`, against the sum of bytes from..to; expert info when wrong. Returns
-- what the Info column adds: nothing, or ", bad checksum XX (sum is YY)".
local function add_checksum(tree, tvb, at, from, to)
    local expected = sum8(tvb, from, to)
    local actual = byte_at(tvb, at)
    local item = tree:add(f.checksum, tvb(at, 1))
    add_generated(tree, f.checksum_computed, tvb, at, 1, expected)
    add_generated(tree, f.checksum_status, tvb, at, 1, actual == expected and 1 or 0)
    if actual == expected then return "" end
    item:add_proto_expert_info(e.checksum, string.format(
        "Wrong checksum 0x%02X: the sum of bytes %d..%d is 0x%02X", actual, from, to, expected))
    return string.format(", bad checksum %02X (sum is %02X)", actual, expected)
end

local function bytes_text(n)
    return n == 1 and "1 byte" or string.format("%d bytes", n)
end

local function family_from_port(port)
    if port == PORT_Z2 then return FAMILY_Z2 end
    if port == PORT_Z3 then return FAMILY_Z3 end
    return FAMILY_UNKNOWN
end

-- ---------------------------------------------------------------------------------------------
-- Blocks

local function dissect_base_block(tvb, tree, o, family)
    local t = tree:add(vorz, tvb(o, 67), "Base block (67 bytes)")
    t:add(f.unused, tvb(o, 3))
    local status = t:add(f.status, tvb(o + 3, 1))
    for _, name in ipairs({ "AddrType", "ClearBuffer", "ShortConnEnable", "HeartTarget", "StatusBit1",
        "RegSendMode" }) do
        status:add(f[name], tvb(o + 3, 1))
    end
    t:add_le(f.LocationURLPort, tvb(o + 4, 2))
    t:add_le(f.HTTPServerPort, tvb(o + 6, 2))
    t:add_le(f.StaticIP, tvb(o + 9, 4))
    t:add_le(f.GatewayIP, tvb(o + 13, 4))
    t:add_le(f.SubnetMask, tvb(o + 17, 4))
    add_text(t, f.ModName, tvb, o + 21, 16)
    add_text(t, f.UserName, tvb, o + 37, 6)
    local password = add_text(t, f.Password, tvb, o + 43, 6)
    if field_text(tvb, o + 43, 6) == "******" then password:add_proto_expert_info(e.masked) end
    if family == FAMILY_Z3 then
        t:add(f.IdType, tvb(o + 52, 1))
    else
        local options = t:add(f.OptionFlags, tvb(o + 52, 1))
        for _, name in ipairs({ "OptionReset", "OptionLink", "OptionIndex", "OptionRFC2217" }) do
            options:add(f[name], tvb(o + 52, 1))
        end
    end
    t:add(f.UserMAC, tvb(o + 53, 6))
    t:add_le(f.Dns, tvb(o + 59, 4))
    t:add(f.ShortConnTime, tvb(o + 63, 1))
end

local function register_type(flags, custom)
    -- The registration selector as the program shows it: cloud, then MAC, then custom win.
    local kind = 0
    if math.floor(flags / 16) % 2 == 1 then kind = 3 end
    if math.floor(flags / 64) % 2 == 1 then kind = 1 end
    if custom then kind = 2 end
    return kind
end

local function dissect_port_block(tvb, tree, o, family)
    local t = tree:add(vorz, tvb(o, 63), "Port block (63 bytes)")
    t:add_le(f.BaudRate, tvb(o, 4))
    t:add(f.DataBits, tvb(o + 4, 1))
    t:add(f.Parity, tvb(o + 5, 1))
    t:add(f.StopBits, tvb(o + 6, 1))
    t:add(f.FlowControl, tvb(o + 7, 1))
    t:add_le(f.LocalPort, tvb(o + 12, 2))
    t:add_le(f.RemotePort, tvb(o + 14, 2))
    add_text(t, f.RemoteIP, tvb, o + 16, 30)
    local flags = t:add(f.socket_flags, tvb(o + 50, 1))
    for _, name in ipairs({ "ModbusTCP", "BaudSync", "CloudEnable", "KickOldConn", "MacRegister" }) do
        flags:add(f[name], tvb(o + 50, 1))
    end
    t:add(f.WorkMode, tvb(o + 51, 1))
    if family == FAMILY_Z3 then
        -- Z3: bytes 52..55 the serial packing length; byte 58 count (high nibble) and style.
        t:add_le(f.UARTLength, tvb(o + 52, 4))
        add_generated(t, f.TCPSvrCount, tvb, o + 58, 1, math.floor(byte_at(tvb, o + 58) / 16))
        t:add(f.TCPStyle, tvb(o + 58, 1))
    else
        t:add(f.HttpdMethod, tvb(o + 52, 1))
        t:add(f.TCPSvrCount, tvb(o + 53, 1))
        t:add_le(f.RestartTimeout, tvb(o + 54, 2))
        local custom = byte_at(tvb, o + 56) == 1
        t:add(f.CustomRegister, tvb(o + 56, 1), custom)
        t:add(f.TCPStyle, tvb(o + 58, 1))
        add_generated(t, f.RegisterType, tvb, o + 50, 1, register_type(byte_at(tvb, o + 50), custom))
    end
end

-- The first 30 bytes of a cloud block are what the serial link carries; the LAN carries all 50.
local function dissect_cloud_block(tvb, tree, o, size)
    local t = tree:add(vorz, tvb(o, size), string.format("Cloud block (%d bytes)", size))
    add_text(t, f.DeviceNo, tvb, o + 2, 20)
    add_text(t, f.CommPassword, tvb, o + 22, 8)
end

local function add_data(t, pf, tvb, at, length, is_hex)
    if length == 0 then return end
    local item = t:add(pf, tvb(at, length))
    if not is_hex then item:append_text(string.format(' ("%s")', field_text(tvb, at, length))) end
end

local function dissect_heart_block(tvb, tree, o)
    local t = tree:add(vorz, tvb(o, 85), "Heartbeat and registration block (85 bytes)")
    local flags = byte_at(tvb, o)
    local ft = t:add(f.heart_flags, tvb(o, 1))
    for _, name in ipairs({ "heart_net", "heart_serial", "RegisterOnConnect", "RegisterWithData",
        "RemoveHttpdHeader", "SerialSetParams", "HeartbeatHex", "RegisterHex" }) do
        ft:add(f[name], tvb(o, 1))
    end
    -- Network and serial heartbeat exclude each other; with both set, network counts.
    local kind = 0
    if math.floor(flags / 2) % 2 == 1 then kind = 1 end
    if flags % 2 == 1 then kind = 2 end
    add_generated(t, f.HeartbeatType, tvb, o, 1, kind)
    t:add_le(f.HeartbeatInterval, tvb(o + 1, 2))
    local heart_length, reg_length = byte_at(tvb, o + 3), byte_at(tvb, o + 4)
    local hl = t:add(f.heart_length, tvb(o + 3, 1))
    local rl = t:add(f.reg_length, tvb(o + 4, 1))
    if heart_length > 40 then hl:add_proto_expert_info(e.length, "More than the 40-byte field; 40 are used") end
    if reg_length > 40 then rl:add_proto_expert_info(e.length, "More than the 40-byte field; 40 are used") end
    add_data(t, f.HeartbeatData, tvb, o + 5, math.min(heart_length, 40), math.floor(flags / 64) % 2 == 1)
    add_data(t, f.RegisterData, tvb, o + 45, math.min(reg_length, 40), math.floor(flags / 128) % 2 == 1)
end

-- An HTTPD text block: a length byte, then up to `max` characters.
local function dissect_httpd_block(tvb, tree, o, max, length_field, text_field, title)
    local t = tree:add(vorz, tvb(o, max + 1), string.format("%s (%d bytes)", title, max + 1))
    local length = byte_at(tvb, o)
    local item = t:add(length_field, tvb(o, 1))
    if length > max then
        item:add_proto_expert_info(e.length, string.format("More than %d characters; %d are used", max, max))
        length = max
    end
    t:add(text_field, tvb(o + 1, max), tvb:raw(o + 1, length))
end

local function dissect_modbus_block(tvb, tree, o, kind)
    local t = tree:add(vorz, tvb(o, kind), string.format("Modbus block, kind %d", kind))
    add_generated(t, f.modbus_kind, tvb, o, kind, kind)
    t:add(f.ModbusTCPEnable, tvb(o, 1), byte_at(tvb, o) == 1)
    if kind >= 4 then
        t:add(f.ModbusPoll, tvb(o + 1, 1), byte_at(tvb, o + 1) == 1)
        t:add(f.ModbusPollTimeout, tvb(o + 2, 2))
    end
    if kind == 7 then
        t:add(f.ModbusAbnormalResponse, tvb(o + 4, 1), byte_at(tvb, o + 4) == 1)
        t:add(f.ModbusPollInterval, tvb(o + 5, 2))
    end
end

local function dissect_z1_body(tvb, tree, o)
    local t = tree:add(vorz, tvb(o, 28), "Z1 parameter body (28 bytes)")
    t:add(f.RemoteIP, tvb(o, 4), reversed_ip_text(tvb, o))
    t:add_le(f.RemotePort, tvb(o + 4, 2))
    t:add_le(f.StaticIP, tvb(o + 6, 4))
    t:add_le(f.LocalPort, tvb(o + 10, 2))
    t:add_le(f.GatewayIP, tvb(o + 12, 4))
    local mode = byte_at(tvb, o + 16)
    local mode_item = t:add(f.WorkMode, tvb(o + 16, 1))
    mode_item:set_text(string.format("WorkMode: %s (%d)", z1_work_mode_names[mode] or "Unknown", mode))
    t:add_le(f.BaudRate, tvb(o + 17, 3))
    -- Serial format: bits 1-0 data bits - 5, bit 2 stop bits - 1, bit 3 parity on, bits 5-4 kind.
    local format = byte_at(tvb, o + 20)
    local ft = t:add(f.z1_format, tvb(o + 20, 1))
    local parity = 1
    if math.floor(format / 8) % 2 == 1 then parity = 2 + math.floor(format / 16) % 4 end
    add_generated(ft, f.DataBits, tvb, o + 20, 1, format % 4 + 5)
    add_generated(ft, f.StopBits, tvb, o + 20, 1, math.floor(format / 4) % 2 + 1)
    add_generated(ft, f.Parity, tvb, o + 20, 1, parity)
    t:add(f.DeviceID, tvb(o + 21, 2))
    local options = t:add(f.z1_options, tvb(o + 23, 1))
    for _, name in ipairs({ "ConnSendId", "DataWithId", "RS485", "RS422", "OptionReset", "OptionLink",
        "OptionIndex", "OptionRFC2217" }) do
        options:add(f[name], tvb(o + 23, 1))
    end
    t:add_le(f.SubnetMask, tvb(o + 24, 4))
end

-- ---------------------------------------------------------------------------------------------
-- LAN: commands (this program to a module)

-- The payload of an addressed command, by its code.
local function dissect_payload(tvb, tree, code, o, size, family)
    if code == 0x05 and size == 67 then dissect_base_block(tvb, tree, o, family)
    elseif code == 0x06 and size == 63 then dissect_port_block(tvb, tree, o, family)
    elseif code == 0x0C and size == 50 then dissect_cloud_block(tvb, tree, o, 50)
    elseif code == 0x21 and size == 85 then dissect_heart_block(tvb, tree, o)
    elseif code == 0x22 and size == 101 then
        dissect_httpd_block(tvb, tree, o, 100, f.url_length, f.HttpdURL, "HTTPD URL block")
    elseif code == 0x23 and size == 201 then
        dissect_httpd_block(tvb, tree, o, 200, f.header_length, f.HttpdHeader, "HTTPD header block")
    elseif code == 0x24 and (size == 1 or size == 4 or size == 7) then dissect_modbus_block(tvb, tree, o, size)
    elseif size > 0 then tree:add(f.payload, tvb(o, size))
    end
end

-- What is wrong with the payload size of a command, or nil.
local function payload_problem(code, size)
    if code == 0x24 then
        if size == 1 or size == 7 or size == 4 then return nil end
        return string.format("A Modbus block is 1 or 7 bytes, not %d", size)
    end
    local expected = command_payload[code]
    if expected ~= nil and expected ~= size then
        return string.format("%s carries %s; it should carry %d", command_names[code], bytes_text(size), expected)
    end
    return nil
end

-- What the Info column says about the payload (the same words as the capture's comments).
local function payload_note(code, size)
    if code == 0x24 then
        if size == 1 or size == 4 or size == 7 then return ", kind " .. size end
        return ", " .. bytes_text(size) .. " of payload (expected 1 or 7)"
    end
    local expected = command_payload[code]
    if expected == nil then
        if size == 0 then return "" end
        return ", " .. bytes_text(size) .. " of payload"
    end
    if expected ~= size then return string.format(", %s of payload (expected %d)", bytes_text(size), expected) end
    return ""
end

local function dissect_command(tvb, pinfo, tree, family)
    local len = tvb:len()
    if len < 4 or byte_at(tvb, 0) ~= 0xFF then
        tree:add_proto_expert_info(e.length, "Not a command: commands start with FF and have at least 4 bytes")
        return bytes_text(len) .. ", not a command"
    end
    local code = byte_at(tvb, 2)
    tree:add(f.start, tvb(0, 1))
    local length_item = tree:add(f.length, tvb(1, 1))
    local kind
    if len == 4 and code == 0x01 then
        kind = "search request"
        tree:add(f.code, tvb(2, 1))
    elseif len < 22 then
        kind = string.format("command %02X, %s, too short for an addressed command", code, bytes_text(len))
        tree:add(f.code, tvb(2, 1))
        tree:add_proto_expert_info(e.length, "An addressed command has at least 22 bytes")
        if len > 4 then tree:add(f.payload, tvb(3, len - 4)) end
    else
        local known = command_payload[code] ~= nil or code == 0x24
        kind = (known and command_names[code] or string.format("command %02X", code)) .. ", " .. mac_text(tvb, 3)
        tree:add(f.code, tvb(2, 1))
        tree:add(f.mac, tvb(3, 6))
        add_text(tree, f.login_user, tvb, 9, 6)
        local password = add_text(tree, f.login_password, tvb, 15, 6)
        if field_text(tvb, 15, 6) == "******" then password:add_proto_expert_info(e.masked) end
        local size = len - 22
        local problem = payload_problem(code, size)
        if problem then tree:add_proto_expert_info(e.length, problem) end
        kind = kind .. payload_note(known and code or -1, size)
        dissect_payload(tvb, tree, code, 21, size, family)
    end
    if byte_at(tvb, 1) ~= (len - 3) % 256 then
        length_item:add_proto_expert_info(e.length, string.format("The length byte says %d; the datagram has %d + 3",
            byte_at(tvb, 1), len - 3))
        kind = kind .. string.format(", length byte %02X does not match", byte_at(tvb, 1))
    end
    return kind .. add_checksum(tree, tvb, len - 1, 1, len - 2)
end

-- ---------------------------------------------------------------------------------------------
-- LAN: replies (a module to this program), told apart by their length

local function dissect_search_reply(tvb, pinfo, tree, family)
    tree:add(f.start, tvb(0, 1))
    tree:add(f.length, tvb(1, 1))
    tree:add(f.code, tvb(2, 1))
    tree:add(f.unused, tvb(3, 2))
    tree:add(f.ip, tvb(5, 4))
    tree:add(f.mac, tvb(9, 6))
    local firmware = tvb(15, 2):le_uint()
    local fw = tree:add_le(f.firmware, tvb(15, 2))
    tree:add(f.unused, tvb(17, 2))
    add_text(tree, f.name, tvb, 19, 14)
    tree:add(f.unused, tvb(33, 3))
    if firmware < NEW_FIRMWARE_MIN then
        fw:add_proto_expert_info(e.incompatible, "Firmware below 2002: Varnix lists it as incompatible")
        family = FAMILY_UNKNOWN
    end
    add_generated(tree, f.family, tvb, 0, 0, family)
    local kind = string.format("search reply, %s, %s, %s, firmware %d", family == FAMILY_UNKNOWN and "unknown family"
        or family_names[family], mac_text(tvb, 9), tostring(tvb(5, 4):ipv4()), firmware)
    if firmware < NEW_FIRMWARE_MIN then kind = kind .. " (incompatible)" end
    local name = field_text(tvb, 19, 14)
    if name ~= "" then kind = kind .. ", " .. printable(name) end
    return kind
end

local function dissect_ack(tvb, tree)
    tree:add(f.start, tvb(0, 1))
    tree:add(f.length, tvb(1, 1))
    tree:add(f.ack_code, tvb(2, 1))
    local status = byte_at(tvb, 3)
    local item = tree:add(f.ack_status, tvb(3, 1))
    if status == 0x4B then return "acknowledgement K" end
    if status == 0x50 then
        item:add_proto_expert_info(e.refused, "User name or password wrong")
        return "acknowledgement P, user name or password wrong"
    end
    if status == 0x45 then
        item:add_proto_expert_info(e.refused, "Other error")
        return "acknowledgement E, other error"
    end
    item:add_proto_expert_info(e.ignored, "Unknown status: Varnix ignores this acknowledgement")
    return "acknowledgement with unknown status " .. hex2(status) .. ", ignored"
end

local function dissect_reply(tvb, pinfo, tree, family)
    local len = tvb:len()
    if len == 36 and byte_at(tvb, 0) == 0xFF and byte_at(tvb, 1) == 0x24 and byte_at(tvb, 2) == 0x01 then
        return dissect_search_reply(tvb, pinfo, tree, family)
    end
    add_generated(tree, f.family, tvb, 0, 0, family)
    if len == 4 and byte_at(tvb, 0) == 0xFF and byte_at(tvb, 1) == 0x01 then return dissect_ack(tvb, tree) end
    if len == 2 then
        if byte_at(tvb, 0) == 0x45 then
            local item = tree:add(f.check_error_expected, tvb(1, 1))
            item:add_proto_expert_info(e.refused, "The module found a wrong checksum")
            return "checksum-error reply, module expected " .. hex2(byte_at(tvb, 1))
        end
        tree:add_proto_expert_info(e.ignored)
        return "2 bytes, ignored"
    end
    if len == 130 then
        dissect_base_block(tvb, tree, 0, family)
        dissect_port_block(tvb, tree, 67, family)
        return "read reply, base+port, " .. mac_text(tvb, 53)
    end
    if len == 50 then dissect_cloud_block(tvb, tree, 0, 50); return "read reply, cloud" end
    if len == 85 then dissect_heart_block(tvb, tree, 0); return "read reply, heartbeat" end
    if len == 302 then
        dissect_httpd_block(tvb, tree, 0, 100, f.url_length, f.HttpdURL, "HTTPD URL block")
        dissect_httpd_block(tvb, tree, 101, 200, f.header_length, f.HttpdHeader, "HTTPD header block")
        return "read reply, HTTPD"
    end
    if len == 1 or len == 4 or len == 64 then
        local kind = len == 64 and 7 or len
        dissect_modbus_block(tvb, tree, 0, kind)
        if len == 64 then tree:add(f.unused, tvb(7, 57)) end
        return "read reply, Modbus kind " .. kind
    end
    if len == 193 or len == 256 then
        tree:add_proto_expert_info(e.incompatible, "A reply of another product series")
        return string.format("reply of another product series, %d bytes", len)
    end
    if len == 36 or len == 40 then
        tree:add_proto_expert_info(e.ignored)
        return string.format("%d bytes, ignored", len)
    end
    tree:add_proto_expert_info(e.length, string.format("No reply has %d bytes", len))
    return string.format("unknown reply, %d bytes", len)
end

-- ---------------------------------------------------------------------------------------------
-- Firmware upgrade request (port 9)

local function is_upgrade_request(tvb)
    if tvb:len() ~= 30 then return false end
    for i = 0, 5 do
        if byte_at(tvb, i) ~= 0xAA then return false end
    end
    return true
end

local function dissect_upgrade_request(tvb, tree)
    tree:add(f.upgrade_marker, tvb(0, 6))
    tree:add(f.mac, tvb(6, 6))
    local first = tvb(6, 6):bytes()
    local kind = "upgrade request, " .. mac_text(tvb, 6)
    for copy = 12, 24, 6 do
        local item = tree:add(f.upgrade_mac_copy, tvb(copy, 6))
        if tvb(copy, 6):bytes() ~= first then
            item:add_proto_expert_info(e.mac_copies)
            if not string.find(kind, "differ", 1, true) then kind = kind .. ", MAC copies differ" end
        end
    end
    return kind
end

-- ---------------------------------------------------------------------------------------------
-- Serial frames

local function dissect_serial_sent(tvb, tree)
    local len = tvb:len()
    if len < 2 or byte_at(tvb, 0) ~= 0x55 then
        tree:add_proto_expert_info(e.length, "Not a frame: frames start with 55")
        return bytes_text(len) .. " to the module, not a frame"
    end
    local code = byte_at(tvb, 1)
    tree:add(f.serial_head, tvb(0, 1))
    tree:add(f.serial_code, tvb(1, 1))
    if len == 2 and (code == 0xBC or code == 0xBD or code == 0xC1) then
        if code == 0xBC then return "read request, Z1/Z3" end
        if code == 0xBD then return "read request, Z2" end
        return "follow-up read request, cloud and heartbeat"
    end
    local kind
    if len == 31 and code == 0xBA then
        dissect_z1_body(tvb, tree, 2)
        kind = "Z1 write frame" .. add_checksum(tree, tvb, 30, 2, 29)
    elseif len == 70 and code == 0xBE then
        dissect_base_block(tvb, tree, 2, FAMILY_Z2)
        kind = "Z2 base frame" .. add_checksum(tree, tvb, 69, 2, 68) .. ", " .. mac_text(tvb, 2 + 53)
    elseif len == 66 and code == 0xBF then
        dissect_port_block(tvb, tree, 2, FAMILY_Z2)
        kind = "Z2 port frame" .. add_checksum(tree, tvb, 65, 2, 64)
    elseif len == 3 and code == 0xB1 and byte_at(tvb, 2) == 0x5A then
        kind = "Z2 closing frame"
    else
        tree:add_proto_expert_info(e.length, string.format("No frame %02X has %d bytes", code, len))
        kind = string.format("frame %02X, %s, not understood", code, bytes_text(len))
    end
    return kind
end

local function dissect_serial_received(tvb, tree)
    local len = tvb:len()
    if len == 1 then
        tree:add(f.serial_ack, tvb(0, 1))
        if byte_at(tvb, 0) == 0x4B then return "acknowledgement K" end
        tree:add_proto_expert_info(e.ignored)
        return "1 byte " .. hex2(byte_at(tvb, 0)) .. ", ignored"
    end
    if len == 32 then
        tree:add(f.serial_head, tvb(0, 1))
        tree:add(f.serial_code, tvb(1, 1))
        dissect_z1_body(tvb, tree, 2)
        tree:add(f.unused, tvb(30, 1))
        local checksum = add_checksum(tree, tvb, 31, 2, 30)
        if byte_at(tvb, 0) ~= 0x55 or byte_at(tvb, 1) ~= 0xBC then
            tree:add_proto_expert_info(e.length, "A Z1 read reply starts with 55 BC")
            return string.format("Z1 read reply with a wrong head %02X %02X", byte_at(tvb, 0), byte_at(tvb, 1))
        end
        return "Z1 read reply" .. checksum
    end
    -- A 137-byte chunk is the Z2 parameter reply only with its head 55 BD; the program takes no
    -- other as one.
    if len == 137 and byte_at(tvb, 0) == 0x55 and byte_at(tvb, 1) == 0xBD then
        tree:add(f.serial_head, tvb(0, 1))
        tree:add(f.serial_code, tvb(1, 1))
        dissect_base_block(tvb, tree, 2, FAMILY_Z2)
        dissect_port_block(tvb, tree, 69, FAMILY_Z2)
        tree:add(f.unused, tvb(132, 5))
        return "Z2 parameter reply, " .. mac_text(tvb, 2 + 53)
    end
    if len == 115 then
        dissect_cloud_block(tvb, tree, 0, 30)
        dissect_heart_block(tvb, tree, 30)
        return "Z2 cloud and heartbeat reply"
    end
    tree:add_proto_expert_info(e.length, string.format("No reply has %d bytes", len))
    return bytes_text(len) .. " from the module, not a reply"
end

-- Exported PDU records carry the direction: 0 sent by this program, 1 received.
local function serial_sent(tvb, pinfo)
    if pinfo.p2p_dir == 0 then return true end
    if pinfo.p2p_dir == 1 then return false end
    local len = tvb:len()
    return len >= 2 and byte_at(tvb, 0) == 0x55 and (len == 2 or len == 3 or len == 31 or len == 66 or len == 70)
end

-- ---------------------------------------------------------------------------------------------
-- Entry points

local function begin(tvb, pinfo, tree, title)
    pinfo.cols.protocol = "VORZ"
    return tree:add(vorz, tvb(), title)
end

local function finish(tvb, pinfo, t, kind)
    pinfo.cols.info = kind
    t:append_text(", " .. kind)
    local item = t:add(f.kind, tvb(0, 0), kind)
    item:set_generated()
    return tvb:len()
end

local function dissect_serial(tvb, pinfo, tree)
    local sent = serial_sent(tvb, pinfo)
    local t = begin(tvb, pinfo, tree, "VOR-Z module protocol (serial)")
    pinfo.cols.src = sent and "PC" or "module"
    pinfo.cols.dst = sent and "module" or "PC"
    local kind
    if sent then kind = dissect_serial_sent(tvb, t) else kind = dissect_serial_received(tvb, t) end
    return finish(tvb, pinfo, t, kind)
end

-- Whether the datagram has the envelope of a command: FF, length - 3, code, ..., checksum.
local function looks_like_command(tvb)
    local len = tvb:len()
    if len < 4 or byte_at(tvb, 0) ~= 0xFF or byte_at(tvb, 1) ~= (len - 3) % 256 then return false end
    if len == 4 then return byte_at(tvb, 2) == 0x01 and byte_at(tvb, 3) == sum8(tvb, 1, 2) end
    return len >= 22
end

local function dissect_lan(tvb, pinfo, tree)
    local src, dst = pinfo.src_port, pinfo.dst_port
    local module_ports = src == PORT_Z2 or src == PORT_Z3 or dst == PORT_Z2 or dst == PORT_Z3
    if dst == PORT_UPGRADE or src == PORT_UPGRADE or (not module_ports and is_upgrade_request(tvb)) then
        if not is_upgrade_request(tvb) then return 0 end
        local t = begin(tvb, pinfo, tree, "VOR-Z module protocol")
        return finish(tvb, pinfo, t, dissect_upgrade_request(tvb, t))
    end
    local t = begin(tvb, pinfo, tree, "VOR-Z module protocol")
    local kind
    if src == PORT_Z2 or src == PORT_Z3 then
        kind = dissect_reply(tvb, pinfo, t, family_from_port(src))
    elseif dst == PORT_Z2 or dst == PORT_Z3 or looks_like_command(tvb) then
        local family = family_from_port(dst)
        add_generated(t, f.family, tvb, 0, 0, family)
        kind = dissect_command(tvb, pinfo, t, family)
    else
        kind = dissect_reply(tvb, pinfo, t, FAMILY_UNKNOWN)
    end
    return finish(tvb, pinfo, t, kind)
end

function vorz.dissector(tvb, pinfo, tree)
    if tvb:len() == 0 then return 0 end
    -- Reached without UDP: an Exported PDU record of the serial link.
    if udp_srcport() == nil then return dissect_serial(tvb, pinfo, tree) end
    return dissect_lan(tvb, pinfo, tree)
end

-- For datagrams on other ports (a module or a simulator on ports of its own): only what has a
-- signature of its own is taken; parameter replies, which have none, are left alone.
local function heuristic(tvb, pinfo, tree)
    local len = tvb:len()
    local ours = false
    if is_upgrade_request(tvb) then
        local first = tvb(6, 6):bytes()
        ours = tvb(12, 6):bytes() == first and tvb(18, 6):bytes() == first and tvb(24, 6):bytes() == first
    elseif looks_like_command(tvb) then
        local code = byte_at(tvb, 2)
        ours = len == 4 or (command_names[code] ~= nil and payload_problem(code, len - 22) == nil
            and byte_at(tvb, len - 1) == sum8(tvb, 1, len - 2))
    elseif len == 36 then
        ours = byte_at(tvb, 0) == 0xFF and byte_at(tvb, 1) == 0x24 and byte_at(tvb, 2) == 0x01
    elseif len == 4 then
        local status = byte_at(tvb, 3)
        ours = byte_at(tvb, 0) == 0xFF and byte_at(tvb, 1) == 0x01 and
            (status == 0x4B or status == 0x50 or status == 0x45)
    end
    return ours and vorz.dissector(tvb, pinfo, tree) > 0
end

local udp_port = DissectorTable.get("udp.port")
udp_port:add(PORT_Z2, vorz)
udp_port:add(PORT_Z3, vorz)
udp_port:add(PORT_UPGRADE, vorz)
vorz:register_heuristic("udp", heuristic)
