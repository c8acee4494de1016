#!/usr/bin/python3
# A Modbus TCP server no one here wrote (pymodbus), for korvant-cli's mbap:// to read: unit 3 is a
# KV5510ADAM with discrete inputs 1 and 8 on; any other unit gets no answer.
# Usage: pymodbus_server.py PORT
import logging
import sys

from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.server import StartTcpServer

logging.basicConfig(level=logging.ERROR)
inputs = [1, 0, 0, 0, 0, 0, 0, 1] + [0] * 8
# zero_mode: address 0 is the first register or input, as the modules number them.
unit3 = ModbusSlaveContext(di=ModbusSequentialDataBlock(0, inputs), co=ModbusSequentialDataBlock(0, [0] * 16),
                           hr=ModbusSequentialDataBlock(0, [0] * 100 + [3, 2, 5510]),
                           ir=ModbusSequentialDataBlock(0, [0] * 16), zero_mode=True)
StartTcpServer(context=ModbusServerContext(slaves={3: unit3}, single=False), address=("127.0.0.1", int(sys.argv[1])))
